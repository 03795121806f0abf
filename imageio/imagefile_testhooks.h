#pragma once
// What the tests of image saving reach into; the program never calls these.

#include <filesystem>
#include <functional>

#include <QString>

// Called with every file PrepareImageFileSave has just encoded (where it can be read, see
// PxPendingSave::EncodedFile) and the file it is meant to replace, before anything else sees
// it (a test damages it to stand for a faulty encoder). None by default.
using EncodedFileHook = std::function<void(const std::filesystem::path &encoded,
                                           const std::filesystem::path &target)>;
void SetEncodedFileHookForTests(EncodedFileHook hook);

// Called with every path LoadImageFile is asked to load, on the thread that loads it (a test
// counts the loads of a batch). Set it before, and clear it after, the loading threads run.
using LoadHook = std::function<void(const QString &path)>;
void SetLoadHookForTests(LoadHook hook);
