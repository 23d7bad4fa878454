#include "app/command_line.h"

namespace kavelo {

// Says what the manual page kavelo(1) says, in short.
const char* usage_text() {
  return "Uso: kavelo [--check [--all-errors]] [--match-guid] [--summary-json ARCHIVO] ARCHIVO_DE_CONEXION\n"
         "     kavelo --help | --version\n"
         "Importa los archivos de intercambio en la base de datos de la empresa que indica el archivo\n"
         "de conexión, y deja FINAL.TXT (y ERRORES.TXT si algo falló) en la carpeta de intercambio.\n"
         "Las opciones van antes del archivo de conexión, en cualquier orden. Desde el primer\n"
         "argumento que no es una de ellas, todos los argumentos, unidos por un blanco, forman la\n"
         "ruta del archivo de conexión, aunque empiecen por un guion.\n"
         "  --check        hace la importación entera, con los mismos informes, dentro de una\n"
         "                 transacción que se deshace al final: la base de datos queda intacta\n"
         "  --all-errors   con --check: un registro que falla se deshace, su línea de error se\n"
         "                 escribe y la importación sigue con el registro siguiente, de modo que\n"
         "                 ERRORES.TXT nombra todos los registros que fallan\n"
         "  --match-guid   un apunte con número de asiento 0 cuyo GUIDAPU no está vacío y es\n"
         "                 igual al GUIDAPU de un apunte ya guardado en el mismo diario y la misma\n"
         "                 fecha toma el número de asiento de ese apunte, de modo que sus líneas\n"
         "                 sustituyen a las guardadas antes en lugar de formar un asiento nuevo;\n"
         "                 sin la opción, ese apunte empieza un asiento nuevo, como siempre\n"
         "  --summary-json ARCHIVO\n"
         "                 escribe además el resumen de la ejecución en ARCHIVO, en JSON (UTF-8)\n"
         "  --help         muestra esta ayuda (solo)\n"
         "  --version      muestra la versión (solo)\n"
         "Estado de salida: 0 sin ERRORES.TXT, 1 con ERRORES.TXT, 2 si los informes (o el resumen\n"
         "JSON) no se pudieron escribir o las opciones no son válidas. Más detalles: man kavelo\n";
}

}  // namespace kavelo
