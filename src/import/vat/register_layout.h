#pragma once
// What the output-VAT and input-VAT records share: the register code, then the
// same columns in the same order by the same conversions, LIB to OFD and,
// after the fields that each register has alone, 347 to RFR3 to the end.
#include "interchange/suffixed_layout.h"

namespace kavelo::vat_register {

using enum Conversion;

// LIB to OFD: positions 3 to 18 in both registers.
inline constexpr Stem kLibToOfd[] = {
    {"LIB", Text}, {"COP", Number}, {"FAC", Text},           {"NFA", Number},
    {"PNU", Text}, {"UNU", Text},   {"NFR", Text},           {"BIC", Amount},
    {"FFA", TextIfNotEmpty},        {"FEC", TextIfNotEmpty}, {"TIP", Text},
    {"TOI", Number},                {"PLA", Number},         {"EMI", Text},
    {"DBI", Text},                  {"OFD", Text},
};

// 347 to RFR3: positions 20 to 65 of the output-VAT record, 28 to 73 of the
// input-VAT one.
inline constexpr Stem k347ToRfr3[] = {
    {"347", Number},   {"CUE", Text},     {"NOM", Text},     {"IFI", Number},   {"CIF", Text},
    {"IMP", Number},   {"TOT", Amount},   {"SUP", Amount},   {"TRET", Amount},  {"PRET", Amount},
    {"IRET", Amount},  {"PI1", Amount},   {"PI2", Amount},   {"PI3", Amount},   {"PR1", Amount},
    {"PR2", Amount},   {"PR3", Amount},   {"BA0", Amount},   {"BA1", Amount},   {"BA2", Amount},
    {"BA3", Amount},   {"CI1", Amount},   {"CI2", Amount},   {"CI3", Amount},   {"CR1", Amount},
    {"CR2", Amount},   {"CR3", Amount},   {"FFR", TextIfNotEmpty},               {"TFR", Amount},
    {"IRFR", Amount},  {"PIFR1", Amount}, {"PIFR2", Amount}, {"PIFR3", Amount}, {"PRFR1", Amount},
    {"PRFR2", Amount}, {"PRFR3", Amount}, {"BFR0", Amount},  {"BFR1", Amount},  {"BFR2", Amount},
    {"BFR3", Amount},  {"CFR1", Amount},  {"CFR2", Amount},  {"CFR3", Amount},  {"RFR1", Amount},
    {"RFR2", Amount},  {"RFR3", Amount},
};

}  // namespace kavelo::vat_register
