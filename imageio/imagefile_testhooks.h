#pragma once
// What the tests of image saving reach into; the program never calls these.

#include <filesystem>
#include <functional>

// Called with every file PrepareImageFileSave has just encoded, before anything else sees it
// (a test damages it to stand for a faulty encoder). None by default.
using EncodedFileHook = std::function<void(const std::filesystem::path &encoded)>;
void SetEncodedFileHookForTests(EncodedFileHook hook);
