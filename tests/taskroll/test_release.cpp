// Release checks on the built programs, read here as PE files (not through the
// loader, so that a test of one architecture reads a program of the other):
// they must run on a bare Windows, stay small and carry their resources.
#include "testkit.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD SUBDIRECTORY = 0x80000000;

class PeFile {
public:
    explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) { Parse(); }

    bool valid = false;
    WORD machine = 0;
    WORD subsystem = 0;

    std::vector<std::string> Imports() const
    {
        std::vector<std::string> names;
        DWORD at = directories_[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        IMAGE_IMPORT_DESCRIPTOR import;
        for (; at != 0 && Read(Offset(at), &import) && import.Name != 0; at += sizeof import)
            names.push_back(CString(import.Name));
        at = directories_[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress;
        IMAGE_DELAYLOAD_DESCRIPTOR delayed;
        for (; at != 0 && Read(Offset(at), &delayed) && delayed.DllNameRVA != 0; at += sizeof delayed)
            names.push_back(CString(delayed.DllNameRVA));
        return names;
    }

    // The data of every resource of `type`, whatever its name and language.
    std::vector<std::string> Resources(WORD type) const
    {
        std::vector<std::string> found;
        const std::size_t root = Offset(directories_[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress);
        for (auto [id, names] : Entries(root, 0)) {
            if (id != type || !(names & SUBDIRECTORY))
                continue;
            for (auto [name, languages] : Entries(root, names & ~SUBDIRECTORY)) {
                for (auto [language, data] : Entries(root, languages & ~SUBDIRECTORY)) {
                    IMAGE_RESOURCE_DATA_ENTRY entry;
                    if (!(data & SUBDIRECTORY) && Read(root + data, &entry) && Offset(entry.OffsetToData) < bytes_.size())
                        found.push_back(bytes_.substr(Offset(entry.OffsetToData), entry.Size));
                }
            }
        }
        return found;
    }

private:
    template <typename T>
    bool Read(std::size_t offset, T* value) const
    {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
            return false;
        std::memcpy(value, bytes_.data() + offset, sizeof(T));
        return true;
    }

    // The file offset of a relative virtual address; past the end when no section holds it.
    std::size_t Offset(DWORD rva) const
    {
        for (const IMAGE_SECTION_HEADER& section : sections_) {
            DWORD extent = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < extent)
                return section.PointerToRawData + (rva - section.VirtualAddress);
        }
        return bytes_.size() + 1;
    }

    std::string CString(DWORD rva) const
    {
        std::size_t at = Offset(rva);
        return at < bytes_.size() ? std::string(bytes_.c_str() + at) : std::string();
    }

    // (name or id, offset) of each entry of the resource directory at `offset` from `root`.
    std::vector<std::pair<DWORD, DWORD>> Entries(std::size_t root, DWORD offset) const
    {
        std::vector<std::pair<DWORD, DWORD>> entries;
        IMAGE_RESOURCE_DIRECTORY directory;
        if (!Read(root + offset, &directory))
            return entries;
        std::size_t at = root + offset + sizeof directory;
        for (int i = 0; i < directory.NumberOfNamedEntries + directory.NumberOfIdEntries; ++i, at += 8) {
            DWORD entry[2];
            if (!Read(at, &entry))
                break;
            entries.emplace_back(entry[0], entry[1]);
        }
        return entries;
    }

    void Parse()
    {
        IMAGE_DOS_HEADER dos;
        DWORD signature = 0;
        IMAGE_FILE_HEADER file;
        if (!Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !Read(dos.e_lfanew, &signature) ||
            signature != IMAGE_NT_SIGNATURE || !Read(dos.e_lfanew + 4, &file))
            return;
        const std::size_t optional = dos.e_lfanew + 4 + sizeof file;
        IMAGE_OPTIONAL_HEADER64 header64;
        IMAGE_OPTIONAL_HEADER32 header32;
        if (Read(optional, &header64) && header64.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
            subsystem = header64.Subsystem;
            std::memcpy(directories_, header64.DataDirectory, sizeof directories_);
        } else if (Read(optional, &header32) && header32.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
            subsystem = header32.Subsystem;
            std::memcpy(directories_, header32.DataDirectory, sizeof directories_);
        } else {
            return;
        }
        IMAGE_SECTION_HEADER section;
        for (int i = 0; i < file.NumberOfSections; ++i) {
            if (!Read(optional + file.SizeOfOptionalHeader + i * sizeof section, &section))
                return;
            sections_.push_back(section);
        }
        machine = file.Machine;
        valid = true;
    }

    std::string bytes_;
    IMAGE_DATA_DIRECTORY directories_[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

// DLLs that every Windows has. A runtime DLL of the compiler (libstdc++,
// libgcc, libwinpthread) is not among them: the programs must link it in.
bool ShippedWithWindows(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    static const char* const system[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "gdi32.dll", "shell32.dll",
                                         "ole32.dll", "oleaut32.dll", "shlwapi.dll", "psapi.dll", "version.dll",
                                         "msvcrt.dll", "ntdll.dll", "ws2_32.dll", "bcrypt.dll", "ucrtbase.dll"};
    return name.compare(0, 11, "api-ms-win-") == 0 ||
           std::find(std::begin(system), std::end(system), name) != std::end(system);
}

void CheckProgram(const std::wstring& fileName, WORD machine)
{
    std::string bytes = testkit::ReadBytes(testkit::Sibling(fileName));
    ASSERT_FALSE(bytes.empty()) << "cannot read " << testkit::Narrow(fileName);
    EXPECT_LE(bytes.size(), 400u * 1024u);
    PeFile pe(bytes);
    ASSERT_TRUE(pe.valid);
    if (machine != 0) {
        EXPECT_EQ(pe.machine, machine);
    }
    EXPECT_EQ(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);

    std::vector<std::string> imports = pe.Imports();
    EXPECT_NE(std::find_if(imports.begin(), imports.end(), [](const std::string& name) {
                  return _stricmp(name.c_str(), "kernel32.dll") == 0;
              }), imports.end());
    for (const std::string& name : imports)
        EXPECT_TRUE(ShippedWithWindows(name)) << "imports " << name << ", which Windows does not ship";

    std::vector<std::string> groups = pe.Resources(14);  // RT_GROUP_ICON
    ASSERT_EQ(groups.size(), 1u);
    WORD header[3] = {};  // reserved, type (1: icon), image count
    ASSERT_GE(groups[0].size(), sizeof header);
    std::memcpy(header, groups[0].data(), sizeof header);
    EXPECT_EQ(header[1], 1);
    EXPECT_EQ(header[2], 4);
    EXPECT_EQ(pe.Resources(3).size(), 4u);  // RT_ICON

    std::vector<std::string> manifests = pe.Resources(24);  // RT_MANIFEST
    ASSERT_EQ(manifests.size(), 1u);
    EXPECT_NE(manifests[0].find("level=\"asInvoker\""), std::string::npos) << manifests[0];
    EXPECT_NE(manifests[0].find("uiAccess=\"false\""), std::string::npos) << manifests[0];

    std::vector<std::string> versions = pe.Resources(16);  // RT_VERSION
    ASSERT_EQ(versions.size(), 1u);
    const DWORD fixedInfoSignature = VS_FFI_SIGNATURE;
    EXPECT_NE(versions[0].find(std::string(reinterpret_cast<const char*>(&fixedInfoSignature), 4)),
              std::string::npos);
}

}  // namespace

TEST(Release, TaskRoll)
{
#ifdef _WIN64
    CheckProgram(L"TaskRoll.exe", IMAGE_FILE_MACHINE_AMD64);
#else
    CheckProgram(L"TaskRoll.exe", IMAGE_FILE_MACHINE_I386);
#endif
}

TEST(Release, Webroster)
{
    if (!testkit::FileExists(testkit::Sibling(L"Webroster.exe")))
        GTEST_SKIP() << "Webroster.exe is not built beside this test program";
    CheckProgram(L"Webroster.exe", 0);
}
