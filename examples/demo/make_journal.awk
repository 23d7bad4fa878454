# Writes journal lines for APU.TXT: whole entries of sales, purchases,
# collections and payments of the demo company over the first half of 2011,
# each entry balanced in both amounts. Deterministic: the same options give the
# same bytes on every machine (a generator of our own, not awk's rand()).
#   awk -v lines=3000 -v seed=2011 -f make_journal.awk > APU.TXT
# The lines come in whole entries of two or three, so there may be up to two
# more than asked for. Most entries are numbered by the connector (entry 0);
# one in ten carries a number of its own, from 5000 up. Lines end in CR LF; the
# text is ASCII, so it is Windows-1252 as it stands.

function next_random(limit) {
  state = (state * 16807) % 2147483647
  return state % limit
}

function money(cents) { return sprintf("%d,%02d", int(cents / 100), cents % 100) }

# Pesetas of an amount in euro cents, in peseta cents (166,386 pesetas a euro).
function pesetas(cents) { return int(cents * 166.386 + 0.5) }

function guid() {
  return sprintf("{%04X%04X-%04X-%04X-%04X-%04X%04X%04X}", next_random(65536), next_random(65536),
                 next_random(65536), next_random(65536), next_random(65536), next_random(65536),
                 next_random(65536), next_random(65536))
}

function emit(journal, date, entry, order, account, concept, doc, side, euro_cents, peseta_cents) {
  printf "A001|%d|%s|%d|%d|%s|%s|%s|%s|%s|%s|E|||0||||1|%s|0||%s\r\n",
         journal, date, entry, order, account, concept, doc, side, money(euro_cents), money(peseta_cents), date, guid()
  written++
}

BEGIN {
  if (lines == "") lines = 3000
  if (seed == "") seed = 2011
  state = seed % 2147483646 + 1
  split("31 28 31 30 31 30", month_days, " ")
  half_year = 181
  # About three lines an entry.
  entries = int(lines / 3) + 1
  written = 0
  for (k = 0; written < lines; k++) {
    # Dates move forward through January to June as the entries go.
    day = int(k * half_year / entries) % half_year
    month = 1
    while (day >= month_days[month]) { day -= month_days[month]; month++ }
    date = sprintf("%02d/%02d/2011", day + 1, month)
    kind = next_random(10)
    base = 5000 + next_random(495000)
    tax = int(base * 18 / 100 + 0.5)
    base_p = pesetas(base); tax_p = pesetas(tax)
    entry = next_random(10) == 0 ? 5000 + k : 0
    if (kind < 4) {
      customer = sprintf("430000%d", 1 + next_random(3)); doc = sprintf("A-%05d", k)
      concept = "Fra. " doc " cliente " customer
      emit(2, date, entry, 1, customer, concept, doc, "D", base + tax, base_p + tax_p)
      emit(2, date, entry, 2, "7000000", concept, doc, "H", base, base_p)
      emit(2, date, entry, 3, "4770000", concept, doc, "H", tax, tax_p)
    } else if (kind < 7) {
      supplier = sprintf("400000%d", 1 + next_random(2)); doc = sprintf("P-%05d", k)
      concept = "Fra. " doc " proveedor " supplier
      emit(3, date, entry, 1, "6000000", concept, doc, "D", base, base_p)
      emit(3, date, entry, 2, "4720000", concept, doc, "D", tax, tax_p)
      emit(3, date, entry, 3, supplier, concept, doc, "H", base + tax, base_p + tax_p)
    } else if (kind < 9) {
      customer = sprintf("430000%d", 1 + next_random(3)); doc = sprintf("C-%05d", k)
      concept = "Cobro " doc " cliente " customer
      emit(1, date, entry, 1, "5720001", concept, doc, "D", base, base_p)
      emit(1, date, entry, 2, customer, concept, doc, "H", base, base_p)
    } else {
      supplier = sprintf("400000%d", 1 + next_random(2)); doc = sprintf("G-%05d", k)
      concept = "Pago " doc " proveedor " supplier
      emit(1, date, entry, 1, supplier, concept, doc, "D", base, base_p)
      emit(1, date, entry, 2, "5720001", concept, doc, "H", base, base_p)
    }
  }
}
