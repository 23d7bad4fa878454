// Interchange files no program should write: folders, binary junk, NUL bytes,
// a line of 50 MB, a line of a million separators. Each gives an error line or
// a clean import, and the run ends with its reports, in bounded memory.
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

class HostileInput : public ImportScenario {};

// The largest resident size of any child process so far, in MB.
long children_peak_mb() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss / 1024;
}

TEST_F(HostileInput, AFolderInPlaceOfAFileIsThatFilesErrorLine) {
  std::filesystem::remove(inter + "/MAE.TXT");
  make_dir(inter + "/MAE.TXT");
  std::string customer = "C001;C1;0;Cliente";
  for (int i = 4; i < 52; ++i) customer += ";0";
  file("CLI.TXT", {customer});
  EXPECT_EQ(import(), error_line("Maestro: (", 0, "", "Error de acceso a la ruta o el archivo"));
  EXPECT_EQ(query_rows(database, "SELECT NOMCLI FROM F_CLI").size(), 1u);
}

TEST_F(HostileInput, BinaryJunkEndsItsImportAtTheIdentifier) {
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += static_cast<char>((i * 7919 + i / 13) % 256);
  write_bytes(inter + "/CLI.TXT", junk);
  std::string errors = import();
  EXPECT_TRUE(errors.starts_with("Clientes: (1/00) Identificador de registro no válido.")) << errors;
}

TEST_F(HostileInput, NulBytesAndUndefinedBytesAreKeptAsText) {
  static constexpr char kLine[] = "M001;100;Ca\0ja \x81\x8d;\r\n";
  write_bytes(inter + "/MAE.TXT", std::string(kLine, sizeof kLine - 1));
  EXPECT_EQ(import(), "");
  auto rows = query_rows(database, "SELECT length(NOMMAE) FROM F_MAE WHERE CODMAE = '100'");
  ASSERT_EQ(rows.size(), 1u);
  // SQLite counts the characters of a text up to its first NUL.
  EXPECT_EQ(rows[0][0].second, "2");
  EXPECT_EQ(query_rows(database, "SELECT length(CAST(NOMMAE AS BLOB)) FROM F_MAE").at(0)[0].second, "10");
}

TEST_F(HostileInput, ALineOfFiftyMegabytesFailsItsColumnInBoundedMemory) {
  write_bytes(inter + "/MAE.TXT", "M001;100;" + std::string(50 << 20, 'x') + ";\r\nM001;200;Bien\r\n");
  EXPECT_EQ(import(), error_line("Maestro: (", 1, "02",
                                 "El campo 'NOMMAE' es demasiado pequeño para aceptar la cantidad de datos que "
                                 "intentó agregar."));
  // The line, its UTF-8 copy and its field: a few times its size, never more
  // (AddressSanitizer keeps freed memory aside, and needs more).
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kLimitMb = 2000;
#else
  constexpr long kLimitMb = 400;
#endif
  EXPECT_LT(children_peak_mb(), kLimitMb);
  std::printf("peak resident size of the run: %ld MB\n", children_peak_mb());
}

TEST_F(HostileInput, AMillionSeparatorsAreAMillionEmptyFields) {
  write_bytes(inter + "/MAE.TXT", "M001;300" + std::string(1000000, ';') + "\r\n");
  EXPECT_EQ(import(), "");
  EXPECT_EQ(query_rows(database, "SELECT NOMMAE, NATMAE FROM F_MAE WHERE CODMAE = '300'").at(0),
            (QueriedRow{{"NOMMAE", "''"}, {"NATMAE", "0.0"}}));
}

}  // namespace
}  // namespace kavelo::test
