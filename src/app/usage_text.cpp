#include "app/command_line.h"

namespace kavelo {

// Says what the manual page kavelo(1) says, in short.
const char* usage_text() {
  return "Uso: kavelo [--check] ARCHIVO_DE_CONEXION\n"
         "     kavelo --help | --version\n"
         "Importa los archivos de intercambio en la base de datos de la empresa que indica el archivo\n"
         "de conexión, y deja FINAL.TXT (y ERRORES.TXT si algo falló) en la carpeta de intercambio.\n"
         "Todos los argumentos, unidos por un blanco, forman la ruta del archivo de conexión; el\n"
         "primero es una opción solo cuando es una de estas:\n"
         "  --check    hace la importación entera, con los mismos informes, dentro de una transacción\n"
         "             que se deshace al final: la base de datos de la empresa queda intacta\n"
         "  --help     muestra esta ayuda\n"
         "  --version  muestra la versión\n"
         "Estado de salida: 0 sin ERRORES.TXT, 1 con ERRORES.TXT, 2 si los informes no se pudieron\n"
         "escribir. Más detalles: man kavelo\n";
}

}  // namespace kavelo
