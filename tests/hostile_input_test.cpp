// Interchange files no program should write: folders, binary junk, NUL bytes,
// a line of 50 MB, a line of a million separators, codes made to look like
// SQL. Each gives an error line or a clean import, and the run ends with its
// reports, in bounded memory. And a full disk, and reports that cannot be
// written.
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

class HostileInput : public ImportScenario {};

// One run: bytes without a character are kept as text, a million
// separators are a million empty fields, a NUL byte (no store keeps it in a
// text) ends its import at its field, binary junk ends its import at the
// identifier, a folder in place of a file is that file's error line, and the
// file after it still imports.
TEST_F(HostileInput, FilesNoProgramShouldWrite) {
  static constexpr char kNul[] = "M001;200;Ca\0ja;\r\n";
  write_bytes(inter + "/MAE.TXT", "M001;100;Caja \x81\x8d;\r\nM001;300" + std::string(1000000, ';') + "\r\n" +
                                      std::string(kNul, sizeof kNul - 1));
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += static_cast<char>((i * 7919 + i / 13) % 256);
  write_bytes(inter + "/CLI.TXT", junk);
  std::filesystem::remove(inter + "/PRO.TXT");
  make_dir(inter + "/PRO.TXT");
  file("IVR.TXT", {record("R001", 65, {{2, "4"}}, {11, 12, 47})});
  const std::string errors = import();
  EXPECT_TRUE(errors.starts_with(
      cp1252("Maestro: (3/02) El texto para el campo 'NOMMAE' contiene el carácter nulo (código 0), que no se guarda "
             "en un texto.\r\nClientes: (1/00) Identificador de registro no válido.\r\n")))
      << errors;
  EXPECT_TRUE(errors.ends_with(error_line("Proveedores: (", 0, "", "Error de acceso a la ruta o el archivo")))
      << errors;
  EXPECT_EQ(rows("SELECT CODMAE, length(NOMMAE), length(CAST(NOMMAE AS BLOB)), NATMAE FROM F_MAE ORDER BY CODMAE"),
            (std::vector<std::string>{"'100'|7|9|0.0", "'300'|0|0|0.0"}));
  EXPECT_EQ(rows("SELECT CODIVR FROM F_IVR"), std::vector<std::string>{"4"});
}

// A line of 50 MB is no record: its file ends there (the record before it
// stored), read no further than the bound of a line (16 MiB), while a long
// line within the bound is refused by its column.
TEST_F(HostileInput, ALineLongerThanTheBoundEndsItsFileInBoundedMemory) {
  write_bytes(inter + "/MAE.TXT", "M001;050;Antes\r\nM001;100;" + std::string(50 << 20, 'x') + ";\r\nM001;200;Bien\r\n");
  write_bytes(inter + "/PRO.TXT", "P001;300;" + std::string(10 << 20, 'x') + ";\r\n");
  EXPECT_EQ(import(), error_line("Maestro: (", 2, "", "Espacio de cadena insuficiente: la línea pasa de 16 MiB.") +
                          error_line("Proveedores: (", 1, "02",
                                     "El campo 'NOMPRO' es demasiado pequeño para aceptar la cantidad de datos que "
                                     "intentó agregar."));
  EXPECT_EQ(rows("SELECT count(*) FROM F_MAE"), std::vector<std::string>{"1"});
  // The summary shows no text for the line it could not read.
  EXPECT_EQ(last_run.err.find("Antes"), std::string::npos) << last_run.err;
  // The bound's line, its UTF-8 copy and a field: a few times the bound,
  // never the size of the line (AddressSanitizer keeps freed memory aside,
  // and needs more).
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kLimitMb = 1000;
#else
  constexpr long kLimitMb = 200;
#endif
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(children.ru_maxrss / 1024, kLimitMb);
  std::printf("peak resident size of the run: %ld MB\n", children.ru_maxrss / 1024);
}

// A FIFO nobody writes to, or a link to an endless device, in a file's place:
// refused at its open, without waiting and without reading, and the files
// after it import.
TEST_F(HostileInput, AFifoOrADeviceInAFilesPlaceEndsThatFileAtOnce) {
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "/dev/zero");
    // Nothing may write to the FIFO of the case before: it would wait for a reader.
    std::filesystem::remove(inter + "/MAE.TXT");
    if (!fifo) start_again();
    std::filesystem::remove(inter + "/MAE.TXT");
    if (fifo)
      ASSERT_EQ(::mkfifo((inter + "/MAE.TXT").c_str(), 0600), 0);
    else
      std::filesystem::create_symlink("/dev/zero", inter + "/MAE.TXT");
    file("CLI.TXT", {record("C001", 52, {{2, "4300001"}})});
    EXPECT_EQ(import(), error_line("Maestro: (", 0, "", "Error de acceso a la ruta o el archivo"));
    EXPECT_EQ(rows("SELECT CODCLI FROM F_CLI"), std::vector<std::string>{"'4300001'"});
  }
}

// Codes made to look like SQL: quotes, comments, statement ends, conditions
// that are always true. Each imports as itself and touches no other row.
class Injection : public ImportScenario {};

TEST_F(Injection, HostileCodesImportAsThemselvesAndTouchNoOtherRow) {
  const std::vector<std::string> codes = {"O'BRIEN", "'OR'1'='1", "X';DROP--", "--",     "a;b",  "[x]",
                                          "\"q\"",   "#1/1/11#",  "'",         "''",     "%_*?", "1 OR 1=1"};
  write_connection_file(conn, connection_lines(inter, data, "EMP", "01", "|"));
  std::vector<std::string> accounts, customers, suppliers, journal;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    accounts.push_back(fmt::format("M001|{}|cuenta {}", codes[i], i));
    customers.push_back(record("C001", 52, {{2, codes[i]}, {4, fmt::format("cliente {}", i)}}, {}, "|"));
    suppliers.push_back(record("P001", 51, {{2, codes[i]}, {3, fmt::format("proveedor {}", i)}}, {}, "|"));
    // An entry of two lines, each account with the code inside it.
    journal.push_back(fmt::format("A001|1|15/03/2011|0|1|43{}|x|d|D|10,00|10,00", codes[i]));
    journal.push_back(fmt::format("A001|1|15/03/2011|0|2|70{}|x|d|H|10,00|10,00", codes[i]));
  }
  file("MAE.TXT", accounts);
  file("CLI.TXT", customers);
  file("PRO.TXT", suppliers);
  file("APU.TXT", journal);
  EXPECT_EQ(import("INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);"
                   "INSERT INTO F_MAE (CODMAE, NOMMAE) VALUES ('DECOY', 'intacto');"
                   "INSERT INTO F_CLI (CODCLI, NOMCLI) VALUES ('DECOY', 'intacto');"
                   "INSERT INTO F_PRO (CODPRO, NOMPRO) VALUES ('DECOY', 'intacto');"),
            "");
  for (const std::string table : {"MAE cuenta", "CLI cliente", "PRO proveedor"}) {
    std::vector<std::string> expected = {"'DECOY'|'intacto'"};
    for (std::size_t i = 0; i < codes.size(); ++i)
      expected.push_back(fmt::format("'{}'|'{} {}'", codes[i], table.substr(4), i));
    std::vector<std::string> stored = rows(fmt::format("SELECT COD{0}, NOM{0} FROM F_{0}", table.substr(0, 3)));
    std::sort(expected.begin(), expected.end());
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, expected) << table;
  }
  // Every line posted to its own account and levels, and only there.
  EXPECT_EQ(rows("SELECT count(*), count(DISTINCT CUEAPU) FROM F_APU"),
            std::vector<std::string>{fmt::format("{0}|{0}", 2 * codes.size())});
  RunResult check = kavelo_db({"verify", database});
  EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
}

// The company database on a file system that fills up in mid-import (a small
// memory file system this test mounts, so it needs root).
class FullDisk : public ImportScenario {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    if (mount("tmpfs", data.c_str(), "tmpfs", 0, "size=600k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount(data.c_str());
  }
  bool mounted_ = false;
};

TEST_F(FullDisk, TheFailingRecordIsReportedAndTheDatabaseStaysSound) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20000; ++i)
    lines.push_back(fmt::format("M001;{:07};Cuenta de prueba con un nombre largo número {};;1;0;0;", i, i));
  file("MAE.TXT", lines);
  file("CLI.TXT", {record("C001", 52, {{2, "C1"}, {4, "Cliente"}})});
  std::string errors = import();
  // What was stored opens and is whole.
  EXPECT_EQ(rows("PRAGMA integrity_check"), std::vector<std::string>{"'ok'"});
  const long stored = std::stol(rows("SELECT count(*) FROM F_MAE").at(0));
  EXPECT_LT(stored, 20000);
  // The import of the accounts ends where the disk is full, clearly said, and
  // names the first record that is not stored: every one before it is. When
  // the disk fills in a commit, that is its one line. When it fills in a
  // record's own write, the transaction goes with it: the failing record's
  // line comes first, and a second names the first of the records lost.
  const std::string full = "No queda espacio en el disco para la base de datos '" + database + "'.";
  const std::string first_lost = error_line("Maestro: (", static_cast<int>(stored) + 1, "", full);
  // The accounts are the first file: their lines open the report.
  const std::size_t last = errors.rfind("Maestro: (");
  const std::string account_lines =
      last == std::string::npos ? std::string() : errors.substr(0, errors.find("\r\n", last) + 2);
  if (account_lines != first_lost) {
    int failing = 0;
    ASSERT_EQ(std::sscanf(account_lines.c_str(), "Maestro: (%d/", &failing), 1) << errors;
    EXPECT_GT(failing, stored + 1) << errors;
    EXPECT_EQ(account_lines, error_line("Maestro: (", failing, "", full) + first_lost)
        << errors << "(" << stored << " accounts stored)";
  }
}

// No report can be written: a report's place taken by a folder, or the
// interchange folder on a file system mounted read-only (root is not stopped
// by a folder's permissions, a read-only mount stops everyone). Nothing is
// imported and the run ends at once with status 2. Without its error report
// a FINAL.TXT would read as a run without errors: the earlier run's goes too.
class UnwritableReports : public ImportScenario {
 protected:
  void TearDown() override {
    if (mounted_) umount(inter.c_str());
  }
  bool mounted_ = false;
};

TEST_F(UnwritableReports, NothingIsImportedWhenNoReportCanBeWritten) {
  for (const std::string place : {"FINAL.TXT", "ERRORES.TXT", "read-only"}) {
    SCOPED_TRACE(place);
    start_again();
    file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
    write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
    if (place == "read-only") {
      if (geteuid() != 0) GTEST_SKIP() << "mounting a file system needs root";
      if (mount("tmpfs", inter.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
      mounted_ = true;
      empty_files();
      file("MAE.TXT", {"M001;100;Caja;;1;0;0;"});
      ASSERT_EQ(mount("tmpfs", inter.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    } else {
      std::filesystem::remove(inter + "/" + place);
      make_dir(inter + "/" + place);
      write_bytes(inter + "/" + place + "/dentro", "");
    }
    database = make_company(data, "EMP", "01", kCompanySql);
    const RunResult result = run_program({bin_path("kavelo"), conn}, "", std::nullopt, std::chrono::seconds(60));
    EXPECT_EQ(result.exit_status, 2) << result.err;
    EXPECT_EQ(rows("SELECT count(*) FROM F_MAE"), std::vector<std::string>{"0"});
    if (place != "FINAL.TXT") {
      EXPECT_NE(result.err.find(inter + "/ERRORES.TXT"), std::string::npos) << result.err;
    }
    if (place == "ERRORES.TXT") {
      EXPECT_FALSE(exists(inter + "/FINAL.TXT"));
    }
    for (const char* name : {"FINAL.TXT", "ERRORES.TXT"}) std::filesystem::remove_all(inter + "/" + name);
  }
}

}  // namespace
}  // namespace kavelo::test
