#include "admin_json.h"

#include <nlohmann/json.hpp>

#include "text.h"

namespace vesquin::scored {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "vesquin-scores";
constexpr int kFormatVersion = 1;

Json Bytes(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return Json{{"hex", hex}};
}

Json Optional(const std::optional<std::int64_t>& v) { return v ? Json(*v) : Json(nullptr); }

Json PlayerFields(const Player& p) {
  return {{"first_name", Bytes(p.firstName)},
          {"last_name", Bytes(p.lastName)},
          {"addr", Bytes(p.addr)},
          {"country", Bytes(p.country)}};
}

// Reading: every fault is reported with its path ("log[3].score") and stops the import.
struct Fault {
  std::string what;
};

const Json& Member(const Json& object, const char* key, const std::string& where) {
  if (!object.is_object()) throw Fault{where + ": expected an object"};
  auto it = object.find(key);
  if (it == object.end()) throw Fault{where + "." + key + ": missing"};
  return *it;
}

std::int64_t Integer(const Json& object, const char* key, const std::string& where) {
  const Json& v = Member(object, key, where);
  if (!v.is_number_integer()) throw Fault{where + "." + key + ": expected an integer"};
  if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
    throw Fault{where + "." + key + ": out of range"};
  return v.get<std::int64_t>();
}

int SmallInteger(const Json& object, const char* key, const std::string& where) {
  std::int64_t v = Integer(object, key, where);
  if (v < INT32_MIN || v > INT32_MAX) throw Fault{where + "." + key + ": out of range"};
  return static_cast<int>(v);
}

std::optional<std::int64_t> OptionalInteger(const Json& object, const char* key, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return Integer(object, key, where);
}

std::string Text(const Json& object, const char* key, const std::string& where) {
  const Json& v = Member(object, key, where);
  if (!v.is_string()) throw Fault{where + "." + key + ": expected a string"};
  return v.get<std::string>();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ReadBytes(const Json& object, const char* key, const std::string& where) {
  const Json& v = Member(object, key, where);
  if (v.is_string()) return v.get<std::string>();
  std::string path = where + "." + key;
  std::string hex = Text(v, "hex", path);
  if (hex.size() % 2 != 0) throw Fault{path + ".hex: odd number of digits"};
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) throw Fault{path + ".hex: not a hex digit"};
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

Player ReadPlayer(const Json& object, const std::string& where) {
  return {ReadBytes(object, "first_name", where), ReadBytes(object, "last_name", where),
          ReadBytes(object, "addr", where), ReadBytes(object, "country", where)};
}

const Json& Array(const Json& doc, const char* key) {
  const Json& v = Member(doc, key, "document");
  if (!v.is_array()) throw Fault{std::string(key) + ": expected an array"};
  return v;
}

}  // namespace

std::string DumpToJson(const Dump& dump) {
  // Record by record into one string: a whole document tree of a large table would take ten
  // times the memory of its text.
  std::string out =
      std::string("{\"format\": \"") + kFormat + "\", \"version\": " + std::to_string(kFormatVersion);
  auto append = [&out](const char* name, const auto& records, auto toJson) {
    out += std::string(",\n\"") + name + "\": [";
    bool first = true;
    for (const auto& record : records) {
      out += first ? "\n " : ",\n ";
      out += toJson(record).dump(-1, ' ', false, Json::error_handler_t::replace);
      first = false;
    }
    out += first ? "]" : "\n]";
  };
  append("lines", dump.lines, [](const LineRecord& l) {
    Json j = {{"id", l.id}};
    j.update(PlayerFields(l.player));
    j.update({{"best_score", l.bestScore},
              {"reached_at", l.reachedAtMs},
              {"reached_submission", l.reachedSubmission}});
    return j;
  });
  append("log", dump.log, [](const LogRecord& r) {
    Json j = {{"id", r.id}, {"received_at", r.receivedAtMs}, {"client", Bytes(r.client)}};
    j.update(PlayerFields(r.player));
    j.update(
        {{"score", r.score}, {"player_id", Optional(r.playerId)}, {"removed_at", Optional(r.removedAtMs)}});
    return j;
  });
  append("bans", dump.bans, [](const BanRecord& b) {
    return Json{{"network", b.network}, {"reason", Bytes(b.reason)}, {"created_at", b.createdAtMs}};
  });
  return out + "\n}\n";
}

Result<Dump> DumpFromJson(std::string_view text) {
  using R = Result<Dump>;
  Json doc;
  // Even the non-throwing parse throws for a number too large for a double ("1e999999").
  try {
    doc = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  } catch (const Json::exception& e) {
    return R::Fail(std::string("not JSON: ") + e.what());
  }
  if (doc.is_discarded()) {
    // Parse again for the reason; only the message of a document already known to be bad.
    try {
      Json again = Json::parse(text.begin(), text.end());
      (void)again;
    } catch (const Json::exception& e) {
      return R::Fail(std::string("not JSON: ") + e.what());
    }
    return R::Fail("not JSON");
  }
  try {
    if (!doc.is_object() || Text(doc, "format", "document") != kFormat)
      return R::Fail("not a score table export (\"format\" is not \"vesquin-scores\")");
    if (Integer(doc, "version", "document") != kFormatVersion)
      return R::Fail("an export of another format version");
    Dump dump;
    const Json& lines = Array(doc, "lines");
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string where = "lines[" + std::to_string(i) + "]";
      const Json& j = lines[i];
      LineRecord l;
      l.id = Integer(j, "id", where);
      l.player = ReadPlayer(j, where);
      l.bestScore = SmallInteger(j, "best_score", where);
      l.reachedAtMs = Integer(j, "reached_at", where);
      l.reachedSubmission = Integer(j, "reached_submission", where);
      dump.lines.push_back(std::move(l));
    }
    const Json& log = Array(doc, "log");
    for (std::size_t i = 0; i < log.size(); ++i) {
      std::string where = "log[" + std::to_string(i) + "]";
      const Json& j = log[i];
      LogRecord r;
      r.id = Integer(j, "id", where);
      r.receivedAtMs = Integer(j, "received_at", where);
      r.client = ReadBytes(j, "client", where);
      r.player = ReadPlayer(j, where);
      r.score = SmallInteger(j, "score", where);
      r.playerId = OptionalInteger(j, "player_id", where);
      r.removedAtMs = OptionalInteger(j, "removed_at", where);
      dump.log.push_back(std::move(r));
    }
    const Json& bans = Array(doc, "bans");
    for (std::size_t i = 0; i < bans.size(); ++i) {
      std::string where = "bans[" + std::to_string(i) + "]";
      const Json& j = bans[i];
      dump.bans.push_back(
          {Text(j, "network", where), ReadBytes(j, "reason", where), Integer(j, "created_at", where)});
    }
    return R::Ok(std::move(dump));
  } catch (const Fault& f) {
    return R::Fail(f.what);
  } catch (const Json::exception& e) {
    return R::Fail(e.what());
  }
}

}  // namespace vesquin::scored
