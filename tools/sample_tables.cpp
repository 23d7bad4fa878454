#include "sample_tables.h"

#include <initializer_list>
#include <iterator>

#include "platform/codepage.h"

namespace kavelo::sample {
namespace {

// The texts are written here in UTF-8 and held in Windows-1252.
std::vector<std::string> cp1252(std::initializer_list<std::string_view> words) {
  std::vector<std::string> out;
  for (std::string_view w : words) out.push_back(utf8_to_cp1252(w));
  return out;
}

Words make_words() {
  Words w;
  w.first_names = cp1252({
      "José", "María", "Ángel", "Íñigo", "Begoña", "Concepción", "Jesús", "Mónica", "Raúl", "Sofía",
      "Andrés", "Lucía", "Óscar", "Inés", "Martín", "Nuria", "Rubén", "Tomás", "Verónica", "Joaquín",
      "Maite", "Adrián", "Belén", "Germán", "Ramón", "Estíbaliz", "Noelia", "Álvaro", "Pilar", "Agustín",
  });
  w.surnames = cp1252({
      "Pérez", "Núñez", "Ibáñez", "Sáez", "Martín", "Ortúzar", "Peñalver", "Muñoz", "Gómez", "Fernández",
      "Álvarez", "López", "Sánchez", "Gutiérrez", "Domínguez", "Rodríguez", "Jiménez", "Hernández", "Díaz",
      "Ruiz", "Moreno", "Güemes", "Castaño", "Cañas", "Montaña", "Zúñiga", "Velázquez", "Márquez", "Ordóñez",
      "Benítez",
  });
  w.places = cp1252({
      "El Almendro", "La Encina", "Los Álamos", "Sierra de Gredos", "Río Duero", "San Martín", "La Alameda",
      "El Mirador", "Peñalara", "La Ribera", "Las Acacias", "El Cañón", "Doña Urraca", "El Pinar",
      "Valle del Tiétar", "Ribera Añeja", "La Cigüeña", "Santa María", "El Roble", "Campo Grande",
      "Plaza Mayor", "Los Ángeles", "La Peña", "Montes de Oca", "El Muñeco",
  });
  w.customer_kinds = cp1252({
      "Restaurante", "Cafetería", "Hotel", "Mesón", "Supermercados", "Farmacia", "Librería", "Ferretería",
      "Colegio", "Residencia", "Asador", "Pastelería", "Taberna", "Hostal", "Autoservicio", "Clínica dental",
  });
  w.supplier_kinds = cp1252({
      "Bodegas", "Panificadora", "Distribuciones", "Suministros", "Transportes", "Gráficas", "Papelería",
      "Talleres", "Lácteos", "Cárnicas", "Frutas y Verduras", "Conservas", "Limpiezas", "Asesoría",
      "Construcciones", "Electricidad",
  });
  w.trades = cp1252({
      "Taller", "Bar", "Frutería", "Carnicería", "Pescadería", "Peluquería", "Estanco", "Quiosco",
      "Fontanería", "Despacho",
  });
  w.forms = {
      {"S.L.", 'B'}, {"S.A.", 'A'}, {"C.B.", 'E'}, {"S.L.U.", 'B'}, {"S.L.", 'B'}, {"S.Coop.", 'F'},
  };
  w.towns = [] {
    struct Raw {
      std::string_view name, province, postcode, phone;
    };
    const Raw raw[] = {
        {"Valladolid", "Valladolid", "470", "983"},
        {"Medina del Campo", "Valladolid", "474", "983"},
        {"Peñafiel", "Valladolid", "473", "983"},
        {"Ávila", "Ávila", "050", "920"},
        {"Arévalo", "Ávila", "052", "920"},
        {"Burgos", "Burgos", "090", "947"},
        {"Aranda de Duero", "Burgos", "094", "947"},
        {"Miranda de Ebro", "Burgos", "092", "947"},
        {"Segovia", "Segovia", "400", "921"},
        {"Cuéllar", "Segovia", "402", "921"},
        {"León", "León", "240", "987"},
        {"Ponferrada", "León", "244", "987"},
        {"Salamanca", "Salamanca", "370", "923"},
        {"Béjar", "Salamanca", "377", "923"},
        {"Zamora", "Zamora", "490", "980"},
        {"Toro", "Zamora", "498", "980"},
        {"Palencia", "Palencia", "340", "979"},
        {"Soria", "Soria", "420", "975"},
        {"Logroño", "La Rioja", "260", "941"},
        {"Cáceres", "Cáceres", "100", "927"},
        {"Plasencia", "Cáceres", "106", "927"},
        {"A Coruña", "A Coruña", "150", "981"},
        {"Ourense", "Ourense", "320", "988"},
        {"Málaga", "Málaga", "290", "952"},
        {"Córdoba", "Córdoba", "140", "957"},
        {"Jaén", "Jaén", "230", "953"},
        {"Almería", "Almería", "040", "950"},
        {"Cuenca", "Cuenca", "160", "969"},
        {"Alcalá de Henares", "Madrid", "288", "918"},
        {"Madrid", "Madrid", "280", "915"},
        {"San Sebastián de los Reyes", "Madrid", "287", "916"},
        {"Santa Cruz de Tenerife", "Santa Cruz de Tenerife", "380", "922"},
        {"Las Palmas de Gran Canaria", "Las Palmas", "350", "928"},
    };
    std::vector<Town> out;
    for (const Raw& r : raw)
      out.push_back({utf8_to_cp1252(r.name), utf8_to_cp1252(r.province), std::string(r.postcode),
                     std::string(r.phone)});
    return out;
  }();
  w.street_kinds = cp1252({"C/", "Avda.", "Pza.", "Ctra.", "Pº", "Camino", "Ronda"});
  w.streets = cp1252({
      "Mayor", "Santiago", "Juan Carlos I", "de la Constitución", "Real", "San Lorenzo", "Alcalá", "de España",
      "del Río", "de Castilla", "Nueva", "de los Reyes Católicos", "María de Molina", "de Zorrilla",
      "del Carmen", "de la Estación", "Ancha", "de Colón", "del Pozo", "de Roa, km 2", "de la Industria",
      "Peñalba", "del Campillo", "de Gredos",
  });
  w.house_numbers = cp1252({"12", "3, 2º B", "s/n", "25, bajo", "7", "48, 1º", "104", "9, local 2"});
  w.banks = {
      {utf8_to_cp1252("Banco Castellano"), "2100"},    {utf8_to_cp1252("Caja Duero"), "2104"},
      {utf8_to_cp1252("Caja Rural del Duero"), "3060"}, {utf8_to_cp1252("Banco del Norte"), "0182"},
      {utf8_to_cp1252("Banca Peñalara"), "0049"},       {utf8_to_cp1252("Caja de Ahorros de Ávila"), "2038"},
      {utf8_to_cp1252("Banco Mediterráneo de Crédito"), "0081"},
  };
  w.payment_terms = cp1252({"CONTADO", "30D", "60D", "30-60D", "90D", "RECIBO 30", "TRANSF."});
  w.mailboxes = {"administracion", "pedidos", "info", "contabilidad", "compras", "facturacion"};
  w.memos = cp1252({
      "Entregas por la puerta de servicio, antes de las 11:00.",
      "Cliente preferente: 5 % de descuento en pedidos de más de 600 €.",
      "Llamar antes de enviar la factura; cierra por vacaciones en agosto.",
      "Pedidos los lunes; entrega en 48 horas.",
      "Enviar las facturas por correo electrónico, en PDF.",
      "No servir los sábados. Preguntar por el encargado.",
      "Pago por transferencia; los recibos devueltos se cargan con 3,50 € de gastos.",
      "Acceso por el muelle de carga, en la calle trasera.",
  });
  w.zones = cp1252({"Zona Norte", "Zona Sur", "Zona Centro", "Zona Este", "Zona Oeste"});
  w.sectors =
      cp1252({"Hostelería", "Alimentación", "Distribución", "Servicios", "Construcción", "Sanidad", "Enseñanza"});
  w.months = cp1252({"enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre",
                      "octubre", "noviembre", "diciembre"});
  w.sub_departments = cp1252({"NORTE", "SUR", "CENTRO", "ESTE", "OESTE"});
  w.company_name = utf8_to_cp1252("Comercial Peñalara de Muestras, S.L.");
  return w;
}

constexpr ChartAccount kCoreChart[] = {
    {"1", -1, "Financiación básica", 1},
    {"10", -1, "Capital", 1},
    {"1000", -1, "Capital social", 1},
    {"1000", 0, "Capital social", 1},
    {"12", -1, "Resultados pendientes de aplicación", 1},
    {"1290", -1, "Resultado del ejercicio", 1},
    {"1290", 0, "Resultado del ejercicio", 1},
    {"2", -1, "Inmovilizado", 0},
    {"21", -1, "Inmovilizaciones materiales", 0},
    {"2130", -1, "Maquinaria", 0},
    {"2130", 0, "Maquinaria", 0},
    {"2170", -1, "Equipos para procesos de información", 0},
    {"2170", 0, "Equipos para procesos de información", 0},
    {"4", -1, "Acreedores y deudores por operaciones comerciales", 0},
    {"40", -1, "Proveedores", 1},
    {"4000", -1, "Proveedores (euros)", 1},
    {"43", -1, "Clientes", 0},
    {"4300", -1, "Clientes (euros)", 0},
    {"46", -1, "Personal", 0},
    {"4600", -1, "Anticipos de remuneraciones", 0},
    {"4600", 0, "Anticipos de remuneraciones", 0},
    {"4650", -1, "Remuneraciones pendientes de pago", 1},
    {"4650", 0, "Remuneraciones pendientes de pago", 1},
    {"47", -1, "Administraciones públicas", 1},
    {"4720", -1, "Hacienda Pública, IVA soportado", 0},
    {"4720", 1, "IVA soportado al 18 %", 0},
    {"4720", 2, "IVA soportado al 8 %", 0},
    {"4720", 3, "IVA soportado al 4 %", 0},
    {"4751", -1, "Hacienda Pública, acreedora por retenciones practicadas", 1},
    {"4751", 0, "Retenciones de trabajo y profesionales", 1},
    {"4760", -1, "Organismos de la Seguridad Social, acreedores", 1},
    {"4760", 0, "Seguridad Social, acreedora", 1},
    {"4770", -1, "Hacienda Pública, IVA repercutido", 1},
    {"4770", 1, "IVA repercutido al 18 %", 1},
    {"4770", 2, "IVA repercutido al 8 %", 1},
    {"4770", 3, "IVA repercutido al 4 %", 1},
    {"4770", 9, "Recargo de equivalencia repercutido", 1},
    {"5", -1, "Cuentas financieras", 0},
    {"57", -1, "Tesorería", 0},
    {"5700", -1, "Caja, euros", 0},
    {"5700", 0, "Caja, euros", 0},
    {"5720", -1, "Bancos e instituciones de crédito c/c vista, euros", 0},
    {"5720", 1, "Banco Castellano, cuenta corriente", 0},
    {"5720", 2, "Caja Duero, cuenta corriente", 0},
    {"6", -1, "Compras y gastos", 0},
    {"60", -1, "Compras", 0},
    {"6000", -1, "Compras de mercaderías", 0},
    {"6000", 1, "Compras de mercaderías al 18 %", 0},
    {"6000", 2, "Compras de mercaderías al 8 %", 0},
    {"6000", 3, "Compras de mercaderías al 4 %", 0},
    {"62", -1, "Servicios exteriores", 0},
    {"6210", -1, "Arrendamientos y cánones", 0},
    {"6210", 0, "Arrendamientos y cánones", 0},
    {"6230", -1, "Servicios de profesionales independientes", 0},
    {"6230", 0, "Servicios de profesionales independientes", 0},
    {"6260", -1, "Servicios bancarios y similares", 0},
    {"6260", 0, "Servicios bancarios y similares", 0},
    {"6280", -1, "Suministros", 0},
    {"6280", 0, "Suministros", 0},
    {"6290", -1, "Otros servicios", 0},
    {"6290", 0, "Otros servicios", 0},
    {"64", -1, "Gastos de personal", 0},
    {"6400", -1, "Sueldos y salarios", 0},
    {"6400", 0, "Sueldos y salarios", 0},
    {"6420", -1, "Seguridad Social a cargo de la empresa", 0},
    {"6420", 0, "Seguridad Social a cargo de la empresa", 0},
    {"7", -1, "Ventas e ingresos", 1},
    {"70", -1, "Ventas de mercaderías, de producción propia y de servicios", 1},
    {"7000", -1, "Ventas de mercaderías", 1},
    {"7000", 1, "Ventas de mercaderías al 18 %", 1},
    {"7000", 2, "Ventas de mercaderías al 8 %", 1},
    {"7000", 3, "Ventas de mercaderías al 4 %", 1},
    {"7050", -1, "Prestaciones de servicios", 1},
    {"7050", 0, "Prestaciones de servicios", 1},
};

constexpr Expense kBankExpenses[] = {
    {"6210", "Alquiler del local, "},
    {"6280", "Suministro eléctrico, "},
    {"6280", "Agua, "},
    {"6290", "Teléfono e Internet, "},
    {"6290", "Material de oficina, "},
};

}  // namespace

const Words& words() {
  static const Words w = make_words();
  return w;
}

std::span<const ChartAccount> core_chart() { return kCoreChart; }

std::span<const Expense> bank_expenses() { return kBankExpenses; }

}  // namespace kavelo::sample
