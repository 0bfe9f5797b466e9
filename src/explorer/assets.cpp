// The page's files, from the bytes the build embedded.
#include "explorer/assets.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "explorer/hash.hpp"
#include "explorer/web_files.hpp"
#include "map/window.hpp"

namespace muller::explorer {

namespace {

void replace_all(std::string& text, const std::string& token, const std::string& value) {
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
    text.replace(at, token.size(), value);
  }
}

Asset asset(std::string body, const char* type) {
  Asset a{std::make_shared<const std::string>(std::move(body)), type, ""};
  std::uint64_t h = fnv_basis;
  for (const char c : *a.body) {
    h = fnv_step(h, static_cast<unsigned char>(c));
  }
  std::array<char, 40> tag{};
  std::snprintf(tag.data(), tag.size(), "\"%016llx\"", static_cast<unsigned long long>(h));
  a.etag = tag.data();
  return a;
}

// The media type a file is served with, by its name's ending.
const char* media_type(const std::string& path) {
  static const struct {
    const char* ending;
    const char* type;
  } types[] = {{".html", "text/html; charset=utf-8"},
               {".js", "text/javascript; charset=utf-8"},
               {".css", "text/css; charset=utf-8"},
               {".json", "application/json"},
               {".png", "image/png"},
               {".svg", "image/svg+xml"}};
  for (const auto& t : types) {
    const std::size_t n = std::strlen(t.ending);
    if (path.size() > n && path.compare(path.size() - n, n, t.ending) == 0) {
      return t.type;
    }
  }
  return "application/octet-stream";
}

}  // namespace

std::unordered_map<std::string, Asset> page_assets() {
  std::unordered_map<std::string, Asset> assets;
  // The page learns the version for its tile URLs and the deepest level from the program itself, so
  // that neither is written twice; every other file is served as it is.
  for (std::size_t k = 0; k < web_file_count; ++k) {
    const WebFile& file = *web_files[k];
    std::string body(reinterpret_cast<const char*>(file.data), file.size);
    const std::string path = file.path;
    if (path == "index.html") {
      replace_all(body, "@VERSION@", MULLER_VERSION);
      replace_all(body, "@DEEPEST_LEVEL@", std::to_string(map::deepest_level));
      assets.emplace("/", asset(std::move(body), "text/html; charset=utf-8"));
    } else {
      assets.emplace("/" + path, asset(std::move(body), media_type(path)));
    }
  }
  return assets;
}

bool not_modified(const http::Request& req, const std::string& etag) {
  const std::string& wanted = req.if_none_match;
  return !wanted.empty() && (wanted == "*" || wanted.find(etag) != std::string::npos);
}

}  // namespace muller::explorer
