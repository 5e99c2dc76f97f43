// Checks over the built dirshift.exe as a file: its PE header (64-bit GUI program,
// ASLR and DEP, only system DLLs imported, nothing that Windows 7 lacks) and every
// resource the code relies on (the two dialog templates control by control, the
// strings, the icon in every size, the version record and the manifest).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/driver/app_process.h"

namespace {

using testing_driver::DirshiftExePath;

std::vector<unsigned char> ReadWholeFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<unsigned char> bytes(::GetFileSize(file, nullptr));
    DWORD read = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

template <typename T>
T At(const std::vector<unsigned char>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

class PeImage {
public:
    explicit PeImage(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {
        if (At<WORD>(bytes_, 0) != IMAGE_DOS_SIGNATURE) return;
        ntOffset_ = At<LONG>(bytes_, 0x3C);
        if (At<DWORD>(bytes_, ntOffset_) != IMAGE_NT_SIGNATURE) return;
        headers_ = At<IMAGE_NT_HEADERS64>(bytes_, ntOffset_);
        const size_t sectionsOffset = ntOffset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                      headers_.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < headers_.FileHeader.NumberOfSections; ++i)
            sections_.push_back(At<IMAGE_SECTION_HEADER>(bytes_, sectionsOffset + i * sizeof(IMAGE_SECTION_HEADER)));
        valid_ = true;
    }

    bool valid() const { return valid_; }
    const IMAGE_NT_HEADERS64& headers() const { return headers_; }

    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> names;
        ForEachImport([&](const IMAGE_IMPORT_DESCRIPTOR& descriptor) { names.push_back(Text(FileOffset(descriptor.Name))); });
        return names;
    }

    // Every function imported by name, as "dll!function".
    std::vector<std::string> ImportedFunctions() const {
        std::vector<std::string> functions;
        ForEachImport([&](const IMAGE_IMPORT_DESCRIPTOR& descriptor) {
            const std::string dll = Text(FileOffset(descriptor.Name));
            const DWORD thunks = descriptor.OriginalFirstThunk != 0 ? descriptor.OriginalFirstThunk : descriptor.FirstThunk;
            size_t offset = FileOffset(thunks);
            for (; offset != 0; offset += sizeof(ULONGLONG)) {
                const auto thunk = At<ULONGLONG>(bytes_, offset);
                if (thunk == 0) break;
                if (thunk & IMAGE_ORDINAL_FLAG64) continue;  // by ordinal: no name to check
                // IMAGE_IMPORT_BY_NAME: a hint word, then the name.
                functions.push_back(dll + "!" + Text(FileOffset(static_cast<DWORD>(thunk)) + 2));
            }
        });
        return functions;
    }

private:
    template <typename Visit>
    void ForEachImport(Visit visit) const {
        const auto& directory = headers_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        size_t offset = FileOffset(directory.VirtualAddress);
        for (; offset != 0; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(bytes_, offset);
            if (descriptor.Name == 0) break;
            visit(descriptor);
        }
    }

    std::string Text(size_t offset) const {
        std::string text;
        for (size_t i = offset; offset != 0 && i < bytes_.size() && bytes_[i] != 0; ++i) text += static_cast<char>(bytes_[i]);
        return text;
    }

    size_t FileOffset(DWORD rva) const {
        for (const auto& s : sections_) {
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return 0;
    }

    std::vector<unsigned char> bytes_;
    LONG ntOffset_ = 0;
    IMAGE_NT_HEADERS64 headers_ = {};
    std::vector<IMAGE_SECTION_HEADER> sections_;
    bool valid_ = false;
};

TEST(Executable, IsA64BitGuiProgramWithAslrAndDep) {
    PeImage image(ReadWholeFile(DirshiftExePath()));
    ASSERT_TRUE(image.valid());
    const auto& optional = image.headers().OptionalHeader;
    EXPECT_EQ(image.headers().FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(optional.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_TRUE(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    EXPECT_TRUE(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    // Relocations must be kept, or ASLR has nothing to work with.
    EXPECT_FALSE(image.headers().FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
}

TEST(Executable, ImportsOnlyDllsThatEveryWindowsHas) {
    PeImage image(ReadWholeFile(DirshiftExePath()));
    ASSERT_TRUE(image.valid());
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "comctl32.dll",
                                             "shell32.dll",  "ole32.dll",    "advapi32.dll", "msvcrt.dll",
                                             "comdlg32.dll", "oleaut32.dll", "shlwapi.dll"};
    const auto imported = image.ImportedDlls();
    EXPECT_FALSE(imported.empty());
    for (const auto& dll : imported) {
        EXPECT_NE(std::find(system.begin(), system.end(), Lower(dll)), system.end()) << "imports " << dll;
    }
}

// The program must start on Windows 7: what came later (the per-monitor DPI calls of
// Windows 8.1 and 10) is found at run time, never imported.
TEST(Executable, ImportsNothingThatWindows7Lacks) {
    PeImage image(ReadWholeFile(DirshiftExePath()));
    ASSERT_TRUE(image.valid());
    const std::vector<std::string> functions = image.ImportedFunctions();
    EXPECT_GT(functions.size(), 20u) << "the import table was read";
    EXPECT_NE(std::find(functions.begin(), functions.end(), "USER32.dll!GetDialogBaseUnits"), functions.end())
        << "names as the linker writes them";
    const char* const laterThanWindows7[] = {
        "GetDpiForWindow", "GetDpiForSystem", "GetSystemMetricsForDpi", "SystemParametersInfoForDpi",
        "AdjustWindowRectExForDpi", "SetDialogDpiChangeBehavior", "SetDialogControlDpiChangeBehavior",
        "GetThreadDpiAwarenessContext", "SetThreadDpiAwarenessContext", "GetAwarenessFromDpiAwarenessContext",
        "SetProcessDpiAwarenessContext", "EnableNonClientDpiScaling", "GetDpiForMonitor", "SetProcessDpiAwareness",
    };
    for (const std::string& imported : functions) {
        const std::string name = imported.substr(imported.find('!') + 1);
        for (const char* later : laterThanWindows7) EXPECT_NE(name, later) << "imports " << imported;
        EXPECT_EQ(Lower(imported).find("shcore"), std::string::npos) << "imports " << imported;
    }
}

// The executable opened as data, so its resources can be read without running it.
class ExecutableResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryExW(DirshiftExePath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }

    std::vector<unsigned char> Resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC info = ::FindResourceW(module_, name, type);
        if (info == nullptr) return {};
        HGLOBAL loaded = ::LoadResource(module_, info);
        const auto* data = static_cast<const unsigned char*>(::LockResource(loaded));
        return data == nullptr ? std::vector<unsigned char>() : std::vector<unsigned char>(data, data + ::SizeofResource(module_, info));
    }

    // The string table resource read directly: 16 counted strings per block.
    std::wstring String(UINT id) const {
        const auto block = Resource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1));
        size_t offset = 0;
        for (UINT i = 0; i < id % 16; ++i) offset += 2 + 2 * size_t(At<WORD>(block, offset));
        const WORD length = At<WORD>(block, offset);
        if (offset + 2 + 2 * size_t(length) > block.size()) return L"<missing>";
        return std::wstring(reinterpret_cast<const wchar_t*>(block.data() + offset + 2), length);
    }

    HMODULE module_ = nullptr;
};

TEST_F(ExecutableResources, ManifestAsksForAdministratorAndCommonControls6) {
    const auto bytes = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("processorArchitecture=\"amd64\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\""),
              std::string::npos);
    // Every Windows version the program was tested on.
    for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"{") + os + "}\"/>"), std::string::npos) << os;
    }
}

// The element's text, with the namespace that Windows requires for it.
std::string ManifestSetting(const std::string& manifest, const std::string& element, const std::string& ns) {
    const std::string open = "<" + element + " xmlns=\"" + ns + "\">";
    const size_t start = manifest.find(open);
    if (start == std::string::npos) return "<missing>";
    const size_t end = manifest.find("</" + element + ">", start);
    if (end == std::string::npos) return "<unclosed>";
    return manifest.substr(start + open.size(), end - start - open.size());
}

TEST_F(ExecutableResources, ManifestDeclaresPerMonitorV2WithSystemAwareFallback) {
    const auto bytes = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">"), std::string::npos);
    // Windows 10 1703 and later read this one: per monitor, version 2; 1607 takes
    // the first value it knows, System.
    EXPECT_EQ(ManifestSetting(manifest, "dpiAwareness", "http://schemas.microsoft.com/SMI/2016/WindowsSettings"),
              "PerMonitorV2, System");
    // Older Windows read this one: system aware. "true/pm" would make Windows 8.1
    // per monitor version 1, which scales no dialog by itself.
    EXPECT_EQ(ManifestSetting(manifest, "dpiAware", "http://schemas.microsoft.com/SMI/2005/WindowsSettings"), "true");
}

TEST_F(ExecutableResources, StringTableHoldsTheProgramsTexts) {
    struct Expected {
        UINT id;
        const wchar_t* text;
    };
    const Expected strings[] = {
        {103, L"Dirshift"},
        {105, L"This volume doesn't support reparse points. Either you don't have permissions or it is (most likely) "
              L"formatted with FAT32 instead of NTFS."},
        {106, L"No folder selected"},
        {107, L"Successfully created the virtual folder! Be WARNED that if you delete files from the virtual folder, "
              L"they will be deleted from the backing folder too. The folders are in-sync. If you want to remove the "
              L"virtual link, use this utility for safety."},
        {108, L"Error creating virtual folder!"},
        {112, L"Scan complete"},
        {113, L"Scanning for virtual folders ..."},
        {114, L"Scanning folder: "},
        {115, L"Scan aborted!"},
        {9002, L"Cancel"}, {9003, L"Ignore"}, {9004, L"Retry"}, {9005, L"Abort"}, {9006, L"Help"},
        {9007, L"Yes"}, {9008, L"No"}, {9009, L"Continue"}, {9010, L"Do not ask me again"},
        {9011, L"Do not tell me again"}, {9012, L"Do not show me again"}, {9013, L"Yes to All"},
        {9014, L"No to All"}, {9015, L"Try Again"}, {9016, L"Report"}, {9017, L"Ignore All"},
        {9018, L"Skip"}, {9019, L"Skip All"},
    };
    for (const auto& s : strings) EXPECT_EQ(String(s.id), s.text) << "string " << s.id;

    // OK is never translated: there is no string 9001.
    EXPECT_EQ(String(9001), L"");
    const std::wstring version = String(109);
    EXPECT_NE(version.find(L"Dirshift"), std::wstring::npos);
    EXPECT_EQ(version.find(L'\n'), std::wstring::npos) << "one line";
    EXPECT_LT(version.size(), 60u) << "fits the static under the group box";
}

// The sizes Windows asks for from 100 % to 200 %: small icons 16 to 32, window and
// Explorer icons 32 to 64, and 256 (stored as 0) for Explorer's largest views.
TEST_F(ExecutableResources, IconGroupHasEveryScalesSizeIn24BitColour) {
    const auto group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_DIRSHIFT));
    ASSERT_GE(group.size(), 6u);
    const WORD count = At<WORD>(group, 4);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const size_t entry = 6 + i * 14;  // GRPICONDIRENTRY
        EXPECT_EQ(group[entry], group[entry + 1]) << "square image " << i;
        sizes.push_back(group[entry] == 0 ? 256 : group[entry]);
        EXPECT_EQ(At<WORD>(group, entry + 6), 24) << "bits per pixel of image " << i;
        const WORD id = At<WORD>(group, entry + 12);
        const auto image = Resource(RT_ICON, MAKEINTRESOURCEW(id));
        EXPECT_EQ(At<DWORD>(image, 0), 40u) << "a BITMAPINFOHEADER image";
        EXPECT_EQ(At<LONG>(image, 4), sizes.back()) << "image width";
        EXPECT_EQ(At<LONG>(image, 8), 2 * sizes.back()) << "colour and mask";
        EXPECT_EQ(At<WORD>(image, 14), 24);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
}

TEST_F(ExecutableResources, VersionRecordNamesTheProduct) {
    const auto bytes = Resource(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO));
    ASSERT_FALSE(bytes.empty());
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    for (const wchar_t* key : {L"ProductName", L"FileDescription", L"FileVersion", L"ProductVersion"})
        EXPECT_NE(text.find(key), std::wstring::npos) << key;
    // A value follows its key after the key's terminator and padding.
    const size_t key = text.find(L"ProductName");
    ASSERT_NE(key, std::wstring::npos);
    const size_t value = text.find_first_not_of(L'\0', key + 11);
    EXPECT_EQ(text.compare(value, 9, std::wstring(L"Dirshift") + L'\0'), 0);
    bool hasFixedInfo = false;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) hasFixedInfo |= At<DWORD>(bytes, i) == VS_FFI_SIGNATURE;
    EXPECT_TRUE(hasFixedInfo) << "VS_FIXEDFILEINFO";
}

// One control of an extended dialog template, with its class normalised to a name.
struct Control {
    int id;
    std::wstring className;
    std::wstring text;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<Control> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

    DialogTemplate Read() {
        DialogTemplate dialog;
        if (Word() != 1 || Word() != 0xFFFF) return dialog;  // DLGTEMPLATEEX only
        Dword();                                             // help id
        dialog.exStyle = Dword();
        dialog.style = Dword();
        const WORD count = Word();
        Word(), Word();
        dialog.cx = static_cast<short>(Word());
        dialog.cy = static_cast<short>(Word());
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        dialog.caption = String();
        if (dialog.style & DS_SETFONT) {
            dialog.pointSize = Word();
            Word();            // weight
            offset_ += 2;      // italic, charset
            dialog.font = String();
        }
        for (WORD i = 0; i < count; ++i) {
            offset_ = (offset_ + 3) & ~size_t(3);
            Control c{};
            Dword();  // help id
            c.exStyle = Dword();
            c.style = Dword();
            c.x = static_cast<short>(Word());
            c.y = static_cast<short>(Word());
            c.cx = static_cast<short>(Word());
            c.cy = static_cast<short>(Word());
            c.id = static_cast<int>(Dword());
            c.className = ClassName();
            c.text = NameOrOrdinal();
            offset_ += Word();  // creation data
            dialog.controls.push_back(c);
        }
        return dialog;
    }

private:
    WORD Word() {
        const WORD w = At<WORD>(bytes_, offset_);
        offset_ += 2;
        return w;
    }
    DWORD Dword() {
        const DWORD d = At<DWORD>(bytes_, offset_);
        offset_ += 4;
        return d;
    }
    std::wstring String() {
        std::wstring s;
        for (WORD w = Word(); w != 0 && offset_ <= bytes_.size(); w = Word()) s += static_cast<wchar_t>(w);
        return s;
    }
    std::wstring NameOrOrdinal() {
        const WORD first = At<WORD>(bytes_, offset_);
        if (first == 0xFFFF) {
            offset_ += 2;
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    std::wstring ClassName() {
        const std::wstring name = NameOrOrdinal();
        if (name == L"#128") return L"Button";
        if (name == L"#129") return L"Edit";
        if (name == L"#130") return L"Static";
        return name;
    }

    const std::vector<unsigned char>& bytes_;
    size_t offset_ = 0;
};

void ExpectControls(const DialogTemplate& dialog, const std::vector<Control>& expected) {
    ASSERT_EQ(dialog.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control& a = dialog.controls[i];
        const Control& e = expected[i];
        SCOPED_TRACE(::testing::Message() << "control " << i << " (id " << e.id << ")");
        EXPECT_EQ(a.id, e.id);
        EXPECT_EQ(Lower(a.className), Lower(e.className)) << "class names are case-insensitive";
        EXPECT_EQ(a.text, e.text);
        EXPECT_EQ(a.x, e.x);
        EXPECT_EQ(a.y, e.y);
        EXPECT_EQ(a.cx, e.cx);
        EXPECT_EQ(a.cy, e.cy);
        EXPECT_EQ(a.style, e.style) << std::hex << a.style << " vs " << e.style;
        EXPECT_EQ(a.exStyle, e.exStyle);
    }
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

TEST_F(ExecutableResources, RelocationDialogTemplateMatchesItsLayout) {
    const DialogTemplate dialog = TemplateReader(Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_RELOCATE))).Read();
    EXPECT_EQ(dialog.style, DWORD(DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | DS_SETFOREGROUND | DS_NOIDLEMSG |
                                  DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(dialog.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(dialog.cx, 343);
    EXPECT_EQ(dialog.cy, 130);
    EXPECT_EQ(dialog.caption, L"Dirshift");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, L"MS Shell Dlg");
    const DWORD edit = kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    const DWORD push = kChild | BS_PUSHBUTTON | WS_TABSTOP;
    ExpectControls(dialog, {
        {IDC_SOURCE_PATH, L"Edit", L"", 109, 21, 185, 14, edit, 0},
        {IDC_BROWSE_TARGET, L"Button", L"...", 302, 42, 16, 14, push, 0},
        {IDC_TARGET_PATH, L"Edit", L"", 109, 42, 185, 14, edit, 0},
        {IDC_BROWSE_SOURCE, L"Button", L"...", 302, 21, 16, 14, push, 0},
        {IDC_RELOCATE, L"Button", L"Dirshift", 217, 61, 77, 18, push, 0},
        // Added inside the group, left of the Dirshift button: whether a copy
        // between drives compares every byte.
        {IDC_COMPARE_CONTENTS, L"Button", L"Compare the contents of every copied file (slower)", 12, 65, 200, 10,
         kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
        {IDC_SOURCE_LABEL, L"Static", L"Original drive/folder", 7, 26, 98, 9, kChild | SS_LEFT, WS_EX_RIGHT},
        {IDC_VERSION_TEXT, L"Static", L"Static", 7, 98, 220, 9, kChild | SS_LEFT, 0},
        {IDC_TARGET_LABEL, L"Static", L"New backing drive/folder", 7, 44, 98, 9, kChild | SS_LEFT, WS_EX_RIGHT},
        {-1, L"Button", L"Dirshift", 7, 7, 329, 79, kChild | BS_GROUPBOX, 0},
        {IDOK, L"Button", L"OK", 232, 93, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {IDCANCEL, L"Button", L"Cancel", 286, 93, 50, 14, push, 0},
    });
}

TEST_F(ExecutableResources, ManagerDialogTemplateMatchesItsLayout) {
    const DialogTemplate dialog = TemplateReader(Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_MANAGER))).Read();
    EXPECT_EQ(dialog.style, 0x80C808C8u);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.cx, 378);
    // Grown by a row for the link repairs below OK and Cancel; every other
    // control stands where it always stood.
    EXPECT_EQ(dialog.cy, 290);
    EXPECT_EQ(dialog.caption, L"Knotwork - List of links");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, L"MS Shell Dlg");
    ExpectControls(dialog, {
        {IDOK, L"Button", L"OK", 263, 238, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {IDCANCEL, L"Button", L"Cancel", 323, 238, 50, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {IDC_JUNCTION_LIST, L"SysListView32", L"", 7, 39, 364, 145, 0x50810811, 0},
        {IDC_REMOVE_SELECTED, L"Button", L"Remove selected links (backing files will remain in-tact)", 7, 199, 207, 14,
         kChild | BS_PUSHBUTTON, 0},
        {IDC_RECURSE, L"Button", L"Search subfolders in scan", 256, 199, 111, 8, kChild | BS_AUTOCHECKBOX, WS_EX_RIGHT},
        {-1, L"Static", L"Results of scan", 7, 27, 213, 9, kChild | SS_LEFT, 0},
        {-1, L"Static", L"Folder to scan:", 7, 7, 98, 9, kChild | SS_LEFT, WS_EX_RIGHT},
        {IDC_SCAN_FOLDER, L"Edit", L"", 109, 7, 234, 12, kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
         WS_EX_ACCEPTFILES},
        {IDC_BROWSE_SCAN_FOLDER, L"Button", L"...", 349, 7, 22, 12, kChild | BS_PUSHBUTTON, 0},
        {IDC_SCAN, L"Button", L"Scan", 278, 21, 65, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {-1, L"Static",
         L"To CREATE a junction simply right-click on a folder in Explorer (Windows)\nThis dialog is only for finding "
         L"and removing junctions.",
         7, 226, 246, 30, kChild | SS_LEFT, 0},
        // Added below the check box, in the free corner beside OK; disabled until
        // one junction is selected.
        {IDC_MOVE_BACK, L"Button", L"Move files &back...", 256, 216, 115, 14,
         kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0},
        {IDC_REPOINT, L"Button", L"&Re-point...", 7, 258, 70, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0},
        {IDC_CHANGE_DRIVE, L"Button", L"Change drive &letter...", 81, 258, 95, 14,
         kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0},
    });
}

}  // namespace
