// The page's files as the explorer serves them: each with its media type and an ETag of its bytes.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "http/server.hpp"

namespace muller::explorer {

struct Asset {
  std::shared_ptr<const std::string> body;
  const char* type;
  std::string etag;
};

// Every file built into the program, by the path it is served at: index.html at "/" with the version
// and the deepest level filled in, the others at "/" and their path below web/.
std::unordered_map<std::string, Asset> page_assets();

// Whether the request already holds what the tag names (If-None-Match).
bool not_modified(const http::Request& req, const std::string& etag);

}  // namespace muller::explorer
