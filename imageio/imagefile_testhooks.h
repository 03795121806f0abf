#pragma once
// What the tests of image saving reach into; the program never calls these.

#include <filesystem>
#include <functional>

// Called with every file PrepareImageFileSave has just encoded (where it can be read, see
// PxPendingSave::EncodedFile) and the file it is meant to replace, before anything else sees
// it (a test damages it to stand for a faulty encoder). None by default.
using EncodedFileHook = std::function<void(const std::filesystem::path &encoded,
                                           const std::filesystem::path &target)>;
void SetEncodedFileHookForTests(EncodedFileHook hook);
