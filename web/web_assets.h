// The live page's files (web/), built into nxt-bridge-sim so that the page
// works offline: each with the path it is served at and its content type.
// The table is generated from the files at build time.
#pragma once

#include <cstddef>
#include <string>

struct WebAsset {
  const char* path;  // "/", "/view.js", ...
  const char* contentType;
  const unsigned char* data;
  std::size_t size;
};

// The file served at `path`, or null.
const WebAsset* webAssetFind(const std::string& path);
