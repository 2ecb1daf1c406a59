// Linked into every test program of TaskRoll's code: the version resources it
// reads go through the worker as TaskRoll's do, and the worker is TaskRoll.exe
// beside the test program, which itself is no worker.
#include "testkit.h"
#include "internal.h"

namespace {

const bool s_readerSet = [] {
    UseVersionReader(testkit::Sibling(L"TaskRoll.exe").c_str(), nullptr);
    return true;
}();

}  // namespace
