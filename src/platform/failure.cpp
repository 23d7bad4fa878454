#include "platform/failure.h"

#include <fmt/format.h>

namespace kavelo {

std::string describe(ErrorCode code, std::string_view detail) {
  switch (code) {
    case ErrorCode::Overflow: return "Desbordamiento";
    case ErrorCode::OutOfStringSpace:
      return fmt::format("Espacio de cadena insuficiente: la línea pasa de {}.", detail);
    case ErrorCode::TypeMismatch: return "No coinciden los tipos";
    case ErrorCode::BadFileNameOrNumber: return "Nombre o número de archivo incorrecto";
    case ErrorCode::FileNotFound: return "No se encontró el archivo";
    case ErrorCode::InputPastEndOfFile: return "La entrada ha sobrepasado el final del archivo";
    case ErrorCode::PathFileAccess: return "Error de acceso a la ruta o el archivo";
    case ErrorCode::PathNotFound: return "No se encontró la ruta de acceso";
    case ErrorCode::NoKeyIndex:
      return fmt::format("No hay una clave principal ni un índice único de la tabla {}: kavelo no puede encontrar "
                         "sus filas.",
                         detail);
    case ErrorCode::NoCurrentRecord: return "No hay un registro activo.";
    case ErrorCode::DuplicateValue:
      return "Los cambios solicitados en la tabla no se realizaron correctamente porque crearían "
             "valores duplicados en el índice, clave principal o relación.";
    case ErrorCode::DatabaseFileNotFound: return fmt::format("No se encuentra el archivo '{}'.", detail);
    case ErrorCode::UpdateWithoutEdit: return "Update o CancelUpdate sin AddNew o Edit.";
    case ErrorCode::QuerySyntax: return fmt::format("Error de sintaxis en la expresión de consulta '{}'.", detail);
    case ErrorCode::TableNotFound: return fmt::format("No se encuentra la tabla o consulta de entrada '{}'.", detail);
    case ErrorCode::TooFewParameters: return fmt::format("Pocos parámetros: no existe la columna '{}'.", detail);
    case ErrorCode::TextTooLong:
      return fmt::format("El campo '{}' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar.",
                         detail);
    case ErrorCode::ItemNotFound: return fmt::format("Elemento no encontrado en esta colección: '{}'.", detail);
    case ErrorCode::RequiredValue: return fmt::format("El campo '{}' no puede contener un valor nulo.", detail);
    case ErrorCode::ValidationRule:
      return fmt::format("Uno o más valores no son válidos según la regla de validación de '{}'.", detail);
    case ErrorCode::UnrecognizedFormat:
      return fmt::format("No se reconoce el formato de la base de datos '{}'.", detail);
    case ErrorCode::DataTypeConversion: return "Error en la conversión del tipo de datos.";
    case ErrorCode::DatabaseInUse:
      return fmt::format("No se pudo usar '{}'; el archivo ya está en uso.", detail);
    case ErrorCode::TableInUse:
      return fmt::format("No se pudo bloquear la tabla '{}' porque otra persona o proceso la está utilizando.",
                         detail);
    case ErrorCode::CannotOpenFile:
      return fmt::format("No se puede abrir el archivo '{}': está en uso o no tiene permiso para abrirlo.", detail);
    case ErrorCode::ReadOnly: return "No se puede actualizar. La base de datos o el objeto es de sólo lectura.";
    case ErrorCode::InvalidOperation: return "La operación no es válida para este tipo de objeto.";
    case ErrorCode::DiskFull:
      return fmt::format("No queda espacio en el disco para la base de datos '{}'.", detail);
    case ErrorCode::DiskIo: return fmt::format("Error de E/S de disco en '{}'.", detail);
    case ErrorCode::BadRecordIdentifier: return "Identificador de registro no válido.";
    case ErrorCode::NulInText:
      return fmt::format("El texto para el campo '{}' contiene el carácter nulo (código 0), que no se guarda en un "
                         "texto.",
                         detail);
    case ErrorCode::NarrowBalance:
      return fmt::format("La columna '{}' de F_SAL guarda menos decimales que los importes de F_APU: sus saldos no "
                         "serían la suma de sus apuntes.",
                         detail);
    case ErrorCode::EngineFailure: return fmt::format("Error del motor de base de datos: {}", detail);
  }
  return fmt::format("Error {}", static_cast<int>(code));
}

Failure failure(ErrorCode code, std::string_view detail) {
  return Failure(static_cast<int>(code), describe(code, detail));
}

}  // namespace kavelo
