#pragma once
// What the customer and supplier records share: the same columns in the same
// order, by the same conversions, in four runs. Around them each file has a
// few fields of its own (the customer TFC and FEL, the supplier TDE) and the
// postal code, which customers keep as text and suppliers as a number.
#include "interchange/suffixed_layout.h"

namespace kavelo::party {

using enum Conversion;

// NOM to RET: customer positions 4 to 17, supplier positions 3 to 16.
inline constexpr Stem kNomToRet[] = {
    {"NOM", Text}, {"IFI", Number}, {"CIF", Text}, {"IMP", Number}, {"CON", Text},
    {"CHA", Text}, {"CCO", Text},   {"CC2", Text}, {"CC3", Text},   {"CBA", Text},
    {"CAR", Text}, {"TIP", Number}, {"TRE", Number}, {"RET", Amount},
};

// COP to NUM: positions 18 to 26 in both; the postal code CPO follows.
inline constexpr Stem kCopToNum[] = {
    {"COP", Number}, {"ACP", Number}, {"TPI", Number}, {"IVA", Amount}, {"REC", Amount},
    {"NCO", Text},   {"SIG", Text},   {"DOM", Text},   {"NUM", Text},
};

// POB to MEM: positions 28 to 44 in both.
inline constexpr Stem kPobToMem[] = {
    {"POB", Text}, {"POV", Text}, {"PAI", Text}, {"TEL", Text}, {"MOV", Text}, {"FAX", Text},
    {"BAN", Text}, {"ENT", Text}, {"OFI", Text}, {"DCO", Text}, {"CTA", Text}, {"IBA", Text},
    {"FPA", Text}, {"PCO", Text}, {"EMA", Text}, {"WEB", Text}, {"MEM", Text},
};

// DEP to CPA5, the end of the record: customer positions 46 to 52, supplier
// positions 45 to 51.
inline constexpr Stem kDepToCpa5[] = {
    {"DEP", Number}, {"SUB", Number}, {"CPA1", Text}, {"CPA2", Text},
    {"CPA3", Text},  {"CPA4", Text},  {"CPA5", Text},
};

}  // namespace kavelo::party
