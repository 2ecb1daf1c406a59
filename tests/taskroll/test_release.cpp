// Release checks on the built programs: they must run on a bare Windows, stay
// small, carry their resources and the hardening that Windows expects (ASLR
// with relocations, DEP, no writable code). The headers and the import table
// are read from the file's bytes; the resources through the loader as a data
// file, which works for a program of either architecture.
#include "testkit.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct PeFacts {
    WORD machine = 0;
    WORD subsystem = 0;
    WORD characteristics = 0;     // of the file header (IMAGE_FILE_*)
    WORD dllCharacteristics = 0;  // of the optional header (IMAGE_DLLCHARACTERISTICS_*)
    bool pe32plus = false;        // a 64-bit image
    DWORD relocationBytes = 0;    // size of the base relocation directory
    std::vector<std::string> writableCode;  // sections both writable and executable
    std::vector<std::string> imports;  // DLL names, from the import and the delay-import table
};

bool ReadPe(const std::string& bytes, PeFacts* facts)
{
    auto read = [&bytes](std::size_t offset, auto* value) {
        bool inside = offset <= bytes.size() && bytes.size() - offset >= sizeof *value;
        if (inside)
            std::memcpy(value, bytes.data() + offset, sizeof *value);
        return inside;
    };
    IMAGE_DOS_HEADER dos;
    IMAGE_FILE_HEADER file;
    IMAGE_OPTIONAL_HEADER64 header64;
    IMAGE_OPTIONAL_HEADER32 header32;
    if (!read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !read(dos.e_lfanew + 4, &file))
        return false;
    const std::size_t optional = dos.e_lfanew + 4 + sizeof file;
    const IMAGE_DATA_DIRECTORY* directories = nullptr;
    if (read(optional, &header64) && header64.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        facts->subsystem = header64.Subsystem;
        facts->dllCharacteristics = header64.DllCharacteristics;
        facts->pe32plus = true;
        directories = header64.DataDirectory;
    } else if (read(optional, &header32) && header32.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        facts->subsystem = header32.Subsystem;
        facts->dllCharacteristics = header32.DllCharacteristics;
        directories = header32.DataDirectory;
    } else {
        return false;
    }
    facts->machine = file.Machine;
    facts->characteristics = file.Characteristics;
    facts->relocationBytes = directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size;
    std::vector<IMAGE_SECTION_HEADER> sections(file.NumberOfSections);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (!read(optional + file.SizeOfOptionalHeader + i * sizeof(IMAGE_SECTION_HEADER), &sections[i]))
            return false;
        const DWORD writableExecutable = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE;
        if ((sections[i].Characteristics & writableExecutable) == writableExecutable)
            facts->writableCode.emplace_back(reinterpret_cast<const char*>(sections[i].Name),
                                             strnlen(reinterpret_cast<const char*>(sections[i].Name), 8));
    }
    auto offset = [&sections, &bytes](DWORD rva) {
        for (const IMAGE_SECTION_HEADER& s : sections) {
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return static_cast<std::size_t>(s.PointerToRawData + (rva - s.VirtualAddress));
        }
        return bytes.size();
    };
    auto name = [&bytes, &offset](DWORD rva) {
        std::size_t at = offset(rva);
        return at < bytes.size() ? std::string(bytes.c_str() + at) : std::string("?");
    };
    IMAGE_IMPORT_DESCRIPTOR import;
    for (DWORD at = directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
         at != 0 && read(offset(at), &import) && import.Name != 0; at += sizeof import)
        facts->imports.push_back(name(import.Name));
    IMAGE_DELAYLOAD_DESCRIPTOR delayed;
    for (DWORD at = directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress;
         at != 0 && read(offset(at), &delayed) && delayed.DllNameRVA != 0; at += sizeof delayed)
        facts->imports.push_back(name(delayed.DllNameRVA));
    return true;
}

BOOL CALLBACK CollectResource(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR found)
{
    HRSRC info = FindResourceW(module, name, type);
    HGLOBAL data = info ? LoadResource(module, info) : nullptr;
    if (data != nullptr)
        reinterpret_cast<std::vector<std::string>*>(found)->emplace_back(
            static_cast<const char*>(LockResource(data)), SizeofResource(module, info));
    return TRUE;
}

std::vector<std::string> Resources(HMODULE module, LPCWSTR type)
{
    std::vector<std::string> found;
    EnumResourceNamesW(module, type, CollectResource, reinterpret_cast<LONG_PTR>(&found));
    return found;
}

// The KnownDLLs of every Windows, which the loader takes from System32
// whatever folder the program runs from. A runtime DLL of the compiler
// (libstdc++, libgcc, libwinpthread) is not among them: the programs must
// link it in; nor is VERSION, which a user could plant beside the program.
bool ShippedWithWindows(const std::string& name)
{
    static const char* const system[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "gdi32.dll", "shell32.dll",
                                         "ole32.dll", "oleaut32.dll", "shlwapi.dll", "psapi.dll", "msvcrt.dll",
                                         "ntdll.dll", "ws2_32.dll"};
    for (const char* dll : system) {
        if (_stricmp(name.c_str(), dll) == 0)
            return true;
    }
    return _strnicmp(name.c_str(), "api-ms-win-", 11) == 0;
}

void CheckProgram(const std::wstring& fileName, WORD machine)
{
    const std::wstring path = testkit::Sibling(fileName);
    std::string bytes = testkit::ReadBytes(path);
    // The project's own size budget: tiny next to what a runtime DLL would add,
    // with room for the version check's language files (the 32-bit TaskRoll is
    // about 401 KiB).
    EXPECT_LE(bytes.size(), 420u * 1024u);
    PeFacts pe;
    ASSERT_TRUE(ReadPe(bytes, &pe)) << "not a PE file: " << testkit::NarrowAnsi(path);
    if (machine != 0) {
        EXPECT_EQ(pe.machine, machine);
    }
    EXPECT_EQ(pe.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    ASSERT_FALSE(pe.imports.empty());
    for (const std::string& name : pe.imports)
        EXPECT_TRUE(ShippedWithWindows(name)) << "imports " << name << ", which is no KnownDLL of Windows";
    // ASLR (with the relocations that let the loader move the image; on a
    // 64-bit image also above 4 GB), DEP, and no section both writable and executable.
    EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "no DYNAMIC_BASE";
    EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "no NX_COMPAT";
    if (pe.pe32plus) {
        EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA) << "no HIGH_ENTROPY_VA";
    }
    EXPECT_FALSE(pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED) << "relocations stripped";
    EXPECT_GT(pe.relocationBytes, 0u) << "empty base relocation directory";
    for (const std::string& name : pe.writableCode)
        ADD_FAILURE() << "section " << name << " is both writable and executable";

    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    std::vector<std::string> groups = Resources(module, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    std::vector<std::string> manifests = Resources(module, MAKEINTRESOURCEW(24));  // RT_MANIFEST
    std::vector<std::string> versions = Resources(module, MAKEINTRESOURCEW(16));  // RT_VERSION
    EXPECT_EQ(Resources(module, MAKEINTRESOURCEW(3)).size(), 4u);  // RT_ICON
    FreeLibrary(module);

    ASSERT_EQ(groups.size(), 1u);
    WORD group[3] = {};  // reserved, type (1: icons), number of images
    std::memcpy(group, groups[0].data(), std::min(groups[0].size(), sizeof group));
    EXPECT_EQ(group[1], 1);
    EXPECT_EQ(group[2], 4);
    ASSERT_EQ(manifests.size(), 1u);
    EXPECT_NE(manifests[0].find("level=\"asInvoker\""), std::string::npos) << manifests[0];
    EXPECT_NE(manifests[0].find("uiAccess=\"false\""), std::string::npos) << manifests[0];
    ASSERT_EQ(versions.size(), 1u);
    const DWORD fixedInfo = VS_FFI_SIGNATURE;
    EXPECT_NE(versions[0].find(std::string(reinterpret_cast<const char*>(&fixedInfo), 4)), std::string::npos);
}

}  // namespace

TEST(Release, TaskRoll)
{
    CheckProgram(L"TaskRoll.exe", sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
}

TEST(Release, Webroster)
{
    if (!testkit::FileExists(testkit::Sibling(L"Webroster.exe")))
        GTEST_SKIP() << "Webroster.exe is not built beside this test program";
    CheckProgram(L"Webroster.exe", 0);
}
