#include "host/cli/item_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "host/cli/com_host.h"
#include "platform/com/oleauto.h"

namespace velitems {
namespace {

struct Property {
  std::string name;
  std::string ns;
  std::string vtName;
  std::string text;  // get_Text, for the table and for types JSON has no form for
  _variant_t value;
};

struct ItemContent {
  std::string itemClass;
  std::string label;
  std::vector<Property> properties;
};

#define VEL_TRY(call, name)  \
  do {                       \
    hr = (call);             \
    if (FAILED(hr)) {        \
      what = (name);         \
      return false;          \
    }                        \
  } while (0)

std::string TakeBstr(BSTR& b) {
  std::string text = BstrUtf8(b);
  SysFreeString(b);
  b = nullptr;
  return text;
}

// Whether JSON shows value through the item model's text: the types it has
// no form of its own for (and those whose own form may fail). Mirrors the
// types JsonValue writes itself: the two change together.
bool JsonNeedsText(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: case VT_NULL: case VT_BOOL: case VT_BSTR: case VT_DATE:
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8:
      return false;
    case VT_ARRAY | VT_UI1: case VT_ARRAY | VT_I1: case VT_ARRAY | VT_BSTR:
      return v.parray == nullptr;
    default:
      return true;
  }
}

// The item's class, label and properties; each property's text only when
// allText or when JSON needs it (converting every value to text costs more
// than the rest of a property's reading).
bool ReadItem(IVelItem* item, ItemContent& content, std::string& what, HRESULT& hr, bool allText) {
  BSTR b = nullptr;
  VEL_TRY(item->get_ItemClass(&b), "ItemClass");
  content.itemClass = TakeBstr(b);
  VEL_TRY(item->get_Label(&b), "Label");
  content.label = TakeBstr(b);
  ComPtr<IVelProperties> properties;
  VEL_TRY(item->get_Properties(&properties), "Properties");
  LONG count = 0;
  VEL_TRY(properties->get_Count(&count), "Properties.Count");
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IVelProperty> p;
    VEL_TRY(properties->get_Item(i, &p), "Properties.Item");
    Property out;
    VEL_TRY(p->get_Name(&b), "Property.Name");
    out.name = TakeBstr(b);
    VEL_TRY(p->get_Namespace(&b), "Property.Namespace");
    out.ns = TakeBstr(b);
    VEL_TRY(p->get_ValueTypeName(&b), "Property.ValueTypeName");
    out.vtName = TakeBstr(b);
    VEL_TRY(p->get_Value(out.value.GetAddress()), "Property.Value");
    if ((allText || JsonNeedsText(out.value)) && SUCCEEDED(p->get_Text(&b))) out.text = TakeBstr(b);
    content.properties.push_back(std::move(out));
  }
  return true;
}

std::string Number(double d) {
  if (!std::isfinite(d)) return "null";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// YYYY-MM-DDTHH:MM:SS.mmm of an OLE date: days from 1899-12-30, the fraction
// always the time of day (also for negative dates).
}  // namespace

std::string JsonDateText(double date) {
  if (!std::isfinite(date) || std::fabs(date) > 3e6) return "null";
  double day = std::trunc(date);
  double fraction = std::fabs(date - day);
  // Dates carry half a millisecond on top of their milliseconds so that they
  // read back exactly; count in tenths first, then drop the fraction.
  long long ms = std::llround(fraction * 864000000.0) / 10;
  long long days = static_cast<long long>(day);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += date < 0 ? -1 : 1;
  }
  // Civil date from days since 1970-01-01 (1899-12-30 is day -25569).
  long long z = days - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[160];
  std::snprintf(buf, sizeof buf, "\"%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lld\"", y, m, d, ms / 3600000,
                ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buf;
}

namespace {

std::string Base64(const unsigned char* data, std::size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < size; i += 3) {
    unsigned v = data[i] << 16;
    if (i + 1 < size) v |= data[i + 1] << 8;
    if (i + 2 < size) v |= data[i + 2];
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < size ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[v & 63] : '=';
  }
  return out;
}

std::string JsonValue(const Property& p) {
  const VARIANT& v = p.value;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return "null";
    case VT_BOOL: return v.boolVal ? "true" : "false";
    case VT_BSTR: return JsonString(BstrUtf8(v.bstrVal));
    case VT_DATE: return JsonDateText(v.date);
    case VT_I1: return std::to_string(static_cast<int>(v.cVal));
    case VT_UI1: return std::to_string(v.bVal);
    case VT_I2: return std::to_string(v.iVal);
    case VT_UI2: return std::to_string(v.uiVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_UI4: return std::to_string(v.ulVal);
    case VT_INT: return std::to_string(v.intVal);
    case VT_UINT: return std::to_string(v.uintVal);
    case VT_I8: return std::to_string(v.llVal);
    case VT_UI8: return std::to_string(v.ullVal);
    case VT_R4: return Number(v.fltVal);
    case VT_R8: return Number(v.dblVal);
    case VT_CY:
    case VT_DECIMAL: {
      _variant_t d;
      if (SUCCEEDED(VariantChangeType(&d, &v, 0, VT_R8))) return Number(d.dblVal);
      break;
    }
    default: break;
  }
  if ((v.vt == (VT_ARRAY | VT_UI1) || v.vt == (VT_ARRAY | VT_I1)) && v.parray) {
    void* data = nullptr;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    if (upper < lower) return "\"\"";
    if (SUCCEEDED(SafeArrayAccessData(v.parray, &data))) {
      std::string out = "\"" + Base64(static_cast<const unsigned char*>(data), upper - lower + 1) + "\"";
      SafeArrayUnaccessData(v.parray);
      return out;
    }
  }
  if (v.vt == (VT_ARRAY | VT_BSTR) && v.parray) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    std::string out = "[";
    for (LONG i = lower; i <= upper; ++i) {
      BSTR text = nullptr;
      SafeArrayGetElement(v.parray, &i, &text);
      out += (i == lower ? "" : ",") + JsonString(BstrUtf8(text));
      SysFreeString(text);
    }
    return out + "]";
  }
  // No JSON form of its own (interfaces, other arrays): the item model's text.
  return JsonString(p.text);
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      // A run that needs no escape, appended at once.
      std::size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x20 && text[end] != '"' &&
             text[end] != '\\')
        ++end;
      out.append(text.substr(i, end - i));
      i = end - 1;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  out += '"';
  return out;
}

std::string ErrorJson(const std::string& path, const std::optional<std::string>& hresult, const std::string& xml) {
  return "{\"path\":" + JsonString(path) + ",\"error\":{\"hresult\":" + (hresult ? JsonString(*hresult) : "null") +
         ",\"xml\":" + JsonString(xml) + "}}";
}

bool ItemJson(IVelItem* item, const std::string& path, const std::string& plugin, std::string& out, std::string& what,
              HRESULT& hr) {
  ItemContent c;
  if (!ReadItem(item, c, what, hr, false)) return false;
  out = "{\"path\":" + JsonString(path) + ",\"plugin\":" + JsonString(plugin) + ",\"class\":" +
        JsonString(c.itemClass) + ",\"label\":" + JsonString(c.label) + ",\"properties\":[";
  bool first = true;
  for (const Property& p : c.properties) {
    out += (first ? "" : ",");
    first = false;
    out += "{\"name\":" + JsonString(p.name) + ",\"namespace\":" + JsonString(p.ns) + ",\"vt\":" +
           JsonString(p.vtName) + ",\"value\":" + JsonValue(p) + "}";
  }
  out += "]}";
  return true;
}

bool ItemTable(IVelItem* item, const std::string& path, const std::string& plugin, bool all, std::string& out,
               std::string& what, HRESULT& hr) {
  ItemContent c;
  if (!ReadItem(item, c, what, hr, true)) return false;
  out = path + "  (plugin " + plugin + ", class \"" + c.itemClass + "\", label \"" + c.label + "\")\n";
  struct Row {
    std::string name;
    const Property* p;
  };
  std::vector<Row> rows;
  std::size_t nameWidth = 28;
  for (const Property& p : c.properties) {
    if (!all && (p.value.vt == VT_EMPTY || p.value.vt == VT_NULL)) continue;
    std::string name = p.ns == Narrow(kCoreNamespace) ? p.name : "{" + p.ns + "}" + p.name;
    nameWidth = std::max(nameWidth, name.size());
    rows.push_back({std::move(name), &p});
  }
  for (const Row& row : rows) {
    const Property& p = *row.p;
    std::string text = p.text;
    if (p.value.vt == VT_DATE) {
      text = JsonDateText(p.value.date);
      if (text.size() >= 2 && text.front() == '"') text = text.substr(1, text.size() - 2);
    }
    for (char& ch : text) {
      if (ch == '\n' || ch == '\r' || ch == '\t') ch = ' ';
    }
    out += "  " + row.name + std::string(nameWidth - row.name.size() + 1, ' ') + p.vtName;
    out += std::string(p.vtName.size() < 18 ? 18 - p.vtName.size() + 1 : 1, ' ') + text + "\n";
  }
  return true;
}

}  // namespace velitems
