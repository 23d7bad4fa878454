#pragma once
// The settings and state of one run, shared by start-up, the importers and the
// reports. Texts are UTF-8.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/row.h"

namespace kavelo {

// Read from the connection file at start-up and not changed afterwards.
struct RunSettings {
  std::string ArchivoConexion;  // the connection file, as given on the command line
  std::string DirIntercambio;   // where the interchange files are read and the reports written
  std::string DirDatos;
  std::string CodEmpresa;
  std::string SufijoBase;
  std::string Separador;  // as read: a blank in it is part of the separator
  std::string caption;    // of the main window
  std::string label1;
  std::string label2;
  // DirDatos & CodEmpresa & SufijoBase & ".MDB"
  std::string RutaBase;
};

// What the import of one interchange file did, for the run summary.
struct FileSummary {
  std::string file_name;
  long read = 0;  // records read, the one that stopped the import included
  long added = 0;
  long changed = 0;
  long duplicates = 0;  // refused as duplicates and passed over
  // Where the import stopped before the end of the file: the record (0 when
  // the file could not be read at all), why, the column whose field was being
  // read (empty when none was), and the start of the record's text.
  bool stopped = false;
  long stopped_at = 0;
  std::string reason;
  std::string field_code;
  std::string column;
  std::string record_start;
  std::chrono::steady_clock::duration elapsed{};
};

struct RunState {
  RunSettings settings;
  // The error report's text; empty while nothing failed.
  std::string TextoErrores;
  // The company's F_EMP row: no value when it could not be read, an empty Row
  // when no row has the company's code.
  std::optional<db::Row> RegistroEmpresa;
  // One entry per interchange file imported so far, in their order.
  std::vector<FileSummary> summaries;
};

// The one run of this process.
RunState& run();

// Adds a message that ends the run to TextoErrores as a line of its own: the
// error lines before it keep their line end, and the message gets none, like
// every message that sets TextoErrores.
void add_closing_message(std::string& texto_errores, std::string_view message);

}  // namespace kavelo
