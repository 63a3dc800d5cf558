// The scenario file: what the simulated camera looks at and when the scripted events come.

#include <rapidjson/document.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <type_traits>

#include "scene.h"

namespace pxcsim {

Scenario Scenario::Load(const std::string& file, std::string* error) {
  std::ifstream in(file);
  if (!in) {
    *error = "cannot open the scenario " + file + ": " + std::strerror(errno);
    return Scenario{};
  }
  std::stringstream text;
  text << in.rdbuf();
  Scenario s = Parse(text.str(), error);
  if (!error->empty()) *error += " in the scenario " + file;
  return s;
}

Scenario Scenario::Parse(const std::string& text, std::string* error) {
  Scenario s;
  rapidjson::Document doc;
  doc.Parse(text.c_str());
  if (doc.HasParseError() || !doc.IsObject()) {
    *error = "invalid JSON";
    return s;
  }
  // A number the field cannot hold keeps the default: converting it would be undefined.
  auto number = [&](const char* key, auto* value) {
    using Field = std::remove_pointer_t<decltype(value)>;
    auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsNumber()) return;
    const double d = it->value.GetDouble();
    if constexpr (std::is_integral_v<Field>) {
      if (!(d > double(std::numeric_limits<Field>::min()) - 1 &&
            d < double(std::numeric_limits<Field>::max()) + 1)) {
        return;
      }
    }
    *value = static_cast<Field>(d);
  };
  number("seed", &s.seed);
  number("version_major", &s.version_major);
  number("version_minor", &s.version_minor);
  number("frames", &s.frames);
  number("color_pitch_padding", &s.color_pitch_padding);
  number("period", &s.period);
  number("second_person_enter", &s.second_person_enter);
  number("second_person_leave", &s.second_person_leave);
  number("rename_every", &s.rename_every);
  number("lose_face_at", &s.lose_face_at);
  number("lose_face_frames", &s.lose_face_frames);
  number("dim_start", &s.dim_start);
  number("dim_end", &s.dim_end);
  number("close_at", &s.close_at);
  for (const char* key : {"paced", "fail_property_queries"}) {
    auto it = doc.FindMember(key);
    if (it != doc.MemberEnd() && it->value.IsBool())
      (std::string(key) == "paced" ? s.paced : s.fail_property_queries) = it->value.GetBool();
  }
  auto model = doc.FindMember("face_model");
  if (model != doc.MemberEnd() && model->value.IsString()) s.face_model = model->value.GetString();
  auto devices = doc.FindMember("devices");
  if (devices != doc.MemberEnd() && devices->value.IsArray()) {
    s.devices.clear();
    for (const auto& d : devices->value.GetArray())
      if (d.IsString()) s.devices.push_back(d.GetString());
  }
  auto depth_sizes = doc.FindMember("depth_sizes");
  if (depth_sizes != doc.MemberEnd() && depth_sizes->value.IsArray()) {
    std::vector<std::array<int32_t, 2>> sizes;
    for (const auto& d : depth_sizes->value.GetArray())
      if (d.IsArray() && d.Size() == 2 && d[0].IsInt() && d[1].IsInt() && d[0].GetInt() > 0 &&
          d[1].GetInt() > 0)
        sizes.push_back({d[0].GetInt(), d[1].GetInt()});
    if (!sizes.empty()) s.depth_sizes = sizes;
  }
  if (s.period <= 0) s.period = 24;
  // Rows never overlap.
  if (s.color_pitch_padding < 0) s.color_pitch_padding = 0;
  return s;
}

}  // namespace pxcsim
