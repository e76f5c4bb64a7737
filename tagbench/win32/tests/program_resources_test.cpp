// The resources compiled into Tarnwick.exe and Pellfray.exe, read back from
// the executables as data: strings, accelerators, icons, the About box and
// Tarnwick's main dialog template and background bitmap, and the manifest.
// The dialog 131 expectations are derived from the layout rules (grid rows,
// cell ids), not copied from the resource script, so a slip in either shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tagbench/win32/tests/programs.h"

namespace {

class Module {
public:
    explicit Module(const char *path)
        : module_(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~Module()
    {
        if (module_)
            FreeLibrary(module_);
    }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;
    HMODULE get() const { return module_; }

    // Bytes of one resource, empty when missing.
    std::vector<unsigned char> Resource(WORD id, LPCSTR type) const
    {
        HRSRC info = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
        if (!info)
            return {};
        HGLOBAL data = LoadResource(module_, info);
        const auto *p = static_cast<const unsigned char *>(LockResource(data));
        return std::vector<unsigned char>(p, p + SizeofResource(module_, info));
    }

private:
    HMODULE module_;
};

// --- DLGTEMPLATEEX reader ---------------------------------------------------

struct DialogItem {
    DWORD ex_style = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls;  // upper case; standard classes by ordinal are named
    std::wstring text; // "#n" for an ordinal (an icon reference)
};

struct DialogTemplate {
    DWORD ex_style = 0;
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring title;
    int point_size = 0;
    std::wstring font;
    std::vector<DialogItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const std::vector<unsigned char> &bytes) : bytes_(bytes) {}

    bool Read(DialogTemplate *out)
    {
        if (bytes_.size() < 26 || Word() != 1 || Word() != 0xFFFF)
            return false; // not an extended template
        Dword(); // help id
        out->ex_style = Dword();
        out->style = Dword();
        const int count = Word();
        Word(); // x
        Word(); // y
        out->cx = static_cast<short>(Word());
        out->cy = static_cast<short>(Word());
        SzOrOrd(); // menu
        SzOrOrd(); // class
        out->title = SzOrOrd();
        if (out->style & DS_SETFONT) {
            out->point_size = Word();
            Word(); // weight
            Word(); // italic, charset
            out->font = SzOrOrd();
        }
        for (int i = 0; i < count; ++i) {
            pos_ = (pos_ + 3) & ~size_t{3};
            DialogItem item;
            Dword(); // help id
            item.ex_style = Dword();
            item.style = Dword();
            item.x = static_cast<short>(Word());
            item.y = static_cast<short>(Word());
            item.cx = static_cast<short>(Word());
            item.cy = static_cast<short>(Word());
            const DWORD id = Dword();
            item.id = (id == 0xFFFF || id == 0xFFFFFFFF) ? -1 : static_cast<int>(id);
            item.cls = ClassName(SzOrOrd());
            item.text = SzOrOrd();
            pos_ += Word(); // creation data
            out->items.push_back(item);
        }
        return pos_ <= bytes_.size();
    }

private:
    WORD Word()
    {
        WORD w = 0;
        if (pos_ + 2 <= bytes_.size())
            std::memcpy(&w, &bytes_[pos_], 2);
        pos_ += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD lo = Word();
        return lo | (static_cast<DWORD>(Word()) << 16);
    }
    std::wstring SzOrOrd()
    {
        WORD w = Word();
        if (w == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring s;
        while (w != 0 && pos_ <= bytes_.size()) {
            s += static_cast<wchar_t>(w);
            w = Word();
        }
        return s;
    }
    static std::wstring ClassName(const std::wstring &raw)
    {
        static const wchar_t *const kByOrdinal[] = {L"BUTTON", L"EDIT", L"STATIC", L"LISTBOX", L"SCROLLBAR",
                                                    L"COMBOBOX"};
        if (raw.size() > 1 && raw[0] == L'#') {
            const int ordinal = std::stoi(raw.substr(1));
            if (ordinal >= 0x80 && ordinal <= 0x85)
                return kByOrdinal[ordinal - 0x80];
        }
        std::wstring upper = raw;
        for (auto &c : upper)
            c = static_cast<wchar_t>(towupper(c));
        return upper;
    }

    const std::vector<unsigned char> &bytes_;
    size_t pos_ = 0;
};

DialogTemplate ReadDialog(const Module &module, WORD id)
{
    DialogTemplate t;
    EXPECT_TRUE(TemplateReader(module.Resource(id, RT_DIALOG)).Read(&t)) << "dialog " << id;
    return t;
}

std::string LoadText(const Module &module, UINT id)
{
    char text[128] = {};
    LoadStringA(module.get(), id, text, sizeof text);
    return text;
}

// --- shared shell resources ---------------------------------------------------

struct ShellExpectation {
    const char *exe;
    const char *title;
    const char *class_name;
    WORD icon_id;
    const wchar_t *about_title;
    const wchar_t *about_text;
};

void ExpectShellResources(const ShellExpectation &e)
{
    Module module(e.exe);
    ASSERT_NE(nullptr, module.get()) << e.exe;

    EXPECT_EQ(e.title, LoadText(module, 103));
    EXPECT_EQ(e.class_name, LoadText(module, 109));

    // Accelerators: exactly Alt+"?" and Alt+"/" as characters, command 104.
    HACCEL table = LoadAcceleratorsA(module.get(), MAKEINTRESOURCEA(109));
    ASSERT_NE(nullptr, table);
    ACCEL entries[8] = {};
    const int n = CopyAcceleratorTableA(table, entries, 8);
    ASSERT_EQ(2, n);
    const WORD keys[2] = {63, 47};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(keys[i], entries[i].key);
        EXPECT_EQ(104, entries[i].cmd);
        EXPECT_TRUE(entries[i].fVirt & FALT);
        EXPECT_FALSE(entries[i].fVirt & FVIRTKEY) << "a character, not a virtual key";
        EXPECT_FALSE(entries[i].fVirt & (FSHIFT | FCONTROL));
    }
    DestroyAcceleratorTable(table);

    // Program icon: one 32 x 32 image with 32 bits per pixel.
    const auto group = module.Resource(e.icon_id, RT_GROUP_ICON);
    ASSERT_EQ(6u + 14u, group.size());
    EXPECT_EQ(1, group[4] | group[5] << 8); // image count
    EXPECT_EQ(32, group[6]);
    EXPECT_EQ(32, group[7]);
    EXPECT_EQ(32, group[6 + 6] | group[6 + 7] << 8); // bits per pixel
    const WORD image_id = static_cast<WORD>(group[6 + 12] | group[6 + 13] << 8);
    const auto image = module.Resource(image_id, RT_ICON);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(32, header.biWidth);
    EXPECT_EQ(64, header.biHeight); // image and mask
    EXPECT_EQ(32, header.biBitCount);
    EXPECT_FALSE(module.Resource(128, RT_GROUP_ICON).empty()) << "the About box shows icon 128";

    // About box 103.
    const DialogTemplate about = ReadDialog(module, 103);
    EXPECT_EQ(0x80C800C8u, about.style);
    EXPECT_EQ(170, about.cx);
    EXPECT_EQ(62, about.cy);
    EXPECT_EQ(e.about_title, about.title);
    EXPECT_EQ(9, about.point_size);
    EXPECT_EQ(L"MS Shell Dlg", about.font);
    ASSERT_EQ(3u, about.items.size());
    const DialogItem &picture = about.items[0];
    EXPECT_EQ(L"STATIC", picture.cls);
    EXPECT_EQ(-1, picture.id);
    EXPECT_EQ(L"#128", picture.text);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | SS_ICON), picture.style);
    EXPECT_EQ((std::vector<short>{14, 14, 21, 20}), (std::vector<short>{picture.x, picture.y, picture.cx, picture.cy}));
    const DialogItem &line = about.items[1];
    EXPECT_EQ(L"STATIC", line.cls);
    EXPECT_EQ(-1, line.id);
    EXPECT_EQ(e.about_text, line.text);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | SS_NOPREFIX | WS_GROUP), line.style);
    EXPECT_EQ((std::vector<short>{42, 14, 114, 8}), (std::vector<short>{line.x, line.y, line.cx, line.cy}));
    const DialogItem &ok = about.items[2];
    EXPECT_EQ(L"BUTTON", ok.cls);
    EXPECT_EQ(IDOK, ok.id);
    EXPECT_EQ(L"确定", ok.text);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP), ok.style);
    EXPECT_EQ((std::vector<short>{113, 41, 50, 14}), (std::vector<short>{ok.x, ok.y, ok.cx, ok.cy}));

    // Manifest: asInvoker without UI access.
    const auto manifest = module.Resource(1, MAKEINTRESOURCEA(24));
    const std::string xml(manifest.begin(), manifest.end());
    EXPECT_NE(std::string::npos, xml.find("level=\"asInvoker\"")) << xml;
    EXPECT_NE(std::string::npos, xml.find("uiAccess=\"false\"")) << xml;
}

TEST(ProgramResources, TarnwickShell)
{
    ExpectShellResources({kTarnwickExe, "TarnwickV1.8", "QUORVEL", 130, L"关于 Quorvel", L"Quorvel，1.0 版"});
}

TEST(ProgramResources, PellfrayShell)
{
    ExpectShellResources({kPellfrayExe, "三合一模块Varek测试软件V1.1", "VAREK_OLSA", 132, L"关于 varek_olsa",
                          L"varek_olsa，1.0 版"});
    Module module(kPellfrayExe);
    const DialogTemplate main = ReadDialog(module, 129);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_SYSMENU), main.style & ~DWORD(DS_SETFONT));
    EXPECT_EQ(509, main.cx);
    EXPECT_EQ(294, main.cy);
}

// --- Tarnwick's dialog 131 --------------------------------------------------------

enum Kind { Label, Frame, Push, Check, Edit, Combo, SortedCombo, Cell };

struct Expected {
    int id;
    Kind kind;
    const wchar_t *text;
    short x, y, cx, cy;
};

// Style bits below the window-style word that each kind must carry, and
// whether it is a tab stop.
void ExpectKind(const DialogItem &item, Kind kind)
{
    const DWORD low = item.style & 0xFFFF;
    const bool tab = (item.style & WS_TABSTOP) != 0;
    switch (kind) {
    case Label:
        EXPECT_EQ(L"STATIC", item.cls);
        EXPECT_EQ(DWORD(SS_LEFT), low);
        EXPECT_FALSE(tab);
        break;
    case Frame:
        EXPECT_EQ(L"BUTTON", item.cls);
        EXPECT_EQ(DWORD(BS_GROUPBOX), low);
        EXPECT_FALSE(tab);
        break;
    case Push:
        EXPECT_EQ(L"BUTTON", item.cls);
        EXPECT_EQ(DWORD(BS_PUSHBUTTON), low);
        EXPECT_TRUE(tab);
        break;
    case Check:
        EXPECT_EQ(L"BUTTON", item.cls);
        EXPECT_EQ(DWORD(BS_AUTOCHECKBOX), low);
        EXPECT_TRUE(tab);
        break;
    case Edit:
        EXPECT_EQ(L"EDIT", item.cls);
        EXPECT_EQ(DWORD(ES_AUTOHSCROLL), low);
        EXPECT_TRUE(item.style & WS_BORDER);
        EXPECT_TRUE(tab);
        break;
    case Combo:
    case SortedCombo:
        EXPECT_EQ(L"COMBOBOX", item.cls);
        EXPECT_EQ(DWORD(CBS_DROPDOWNLIST | (kind == SortedCombo ? CBS_SORT : 0)), low);
        EXPECT_TRUE(item.style & WS_VSCROLL);
        EXPECT_TRUE(tab);
        break;
    case Cell:
        EXPECT_EQ(L"STATIC", item.cls);
        EXPECT_EQ(DWORD(SS_CENTER | SS_CENTERIMAGE), low);
        EXPECT_TRUE(item.style & WS_GROUP);
        EXPECT_FALSE(tab);
        break;
    }
}

TEST(ProgramResources, TarnwickMainDialog)
{
    Module module(kTarnwickExe);
    ASSERT_NE(nullptr, module.get());
    const DialogTemplate dialog = ReadDialog(module, 131);
    EXPECT_EQ(0x50080040u, dialog.style);
    EXPECT_EQ(476, dialog.cx);
    EXPECT_EQ(257, dialog.cy);
    EXPECT_EQ(L"", dialog.title);
    EXPECT_EQ(10, dialog.point_size);
    EXPECT_EQ(L"微软雅黑", dialog.font);

    std::vector<Expected> expected = {
        {-1, Label, L"串口：", 26, 20, 29, 12},
        {-1, Label, L"波特率：", 26, 33, 30, 11},
        {1002, SortedCombo, L"", 57, 18, 50, 72},
        {1003, Combo, L"", 57, 32, 50, 64},
        {1004, Push, L"下一页", 344, 228, 50, 15},
        {-1, Frame, L"串口配置", 15, 7, 156, 40},
        {-1, Label, L"设备状态", 50, 187, 40, 11},
        {-1, Label, L"标签总数", 51, 199, 40, 9},
        {-1, Label, L"掉线个数", 51, 211, 37, 8},
        {1041, Label, L"未连接", 101, 187, 40, 11},
        {1043, Label, L"0", 101, 199, 27, 9},
        {1044, Label, L"0", 101, 210, 27, 9},
        {-1, Frame, L"状态", 15, 178, 156, 45},
        {1016, Push, L"开始", 121, 20, 42, 21},
        {1042, Push, L"上一页", 252, 228, 50, 15},
    };
    // The grid: header row at y 13, row r at 30 + 16r, cells 15 high; row r
    // is 1106 + 6r .. 1111 + 6r except that row 0 starts with 1088.
    const short column_x[6] = {186, 217, 263, 294, 375, 416};
    const short column_w[6] = {30, 45, 30, 80, 40, 45};
    const int header_ids[6] = {1046, 1083, 1084, 1085, 1086, 1087};
    const wchar_t *const header_text[6] = {L"序号", L"卡号", L"欠压", L"附加数据", L"dB / cm", L"活跃次数"};
    for (int c = 0; c < 6; ++c)
        expected.push_back({header_ids[c], Cell, header_text[c], column_x[c], 13, column_w[c], 15});
    for (int r = 0; r < 12; ++r) {
        for (int c = 0; c < 6; ++c) {
            const int id = (r == 0 && c == 0) ? 1088 : 1106 + 6 * r + c;
            expected.push_back({id, Cell, L"", column_x[c], static_cast<short>(30 + 16 * r), column_w[c], 15});
        }
    }
    const std::vector<Expected> reminder = {
        {-1, Label, L"起始ID号：", 22, 63, 40, 10},
        {1178, Edit, L"", 60, 62, 50, 12},
        {1179, Push, L"启动", 120, 60, 42, 15},
        {-1, Frame, L"声光提醒", 15, 50, 156, 65},
        {-1, Label, L"提醒模式：", 26, 98, 36, 8},
        {1005, Check, L"绿灯", 67, 97, 24, 11},
        {1006, Check, L"红灯", 98, 97, 25, 10},
        {1007, Check, L"蜂鸣器", 133, 96, 30, 13},
        {-1, Label, L"数量：", 36, 81, 22, 10},
        {1180, Edit, L"", 60, 80, 50, 12},
        {-1, Label, L"(1-80)", 119, 82, 30, 10},
    };
    expected.insert(expected.end(), reminder.begin(), reminder.end());

    ASSERT_EQ(expected.size(), dialog.items.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("template item " + std::to_string(i) + ", id " + std::to_string(expected[i].id));
        const DialogItem &item = dialog.items[i];
        const Expected &e = expected[i];
        EXPECT_EQ(e.id, item.id);
        EXPECT_EQ(std::wstring(e.text), item.text);
        EXPECT_EQ((std::vector<short>{e.x, e.y, e.cx, e.cy}), (std::vector<short>{item.x, item.y, item.cx, item.cy}));
        EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE), item.style & (WS_CHILD | WS_VISIBLE | WS_DISABLED));
        if (i == 0) {
            // The port label alone: no word wrap, transparent.
            EXPECT_EQ(DWORD(SS_LEFTNOWORDWRAP), item.style & 0xFFFF);
            EXPECT_EQ(DWORD(WS_EX_TRANSPARENT), item.ex_style);
        } else {
            ExpectKind(item, e.kind);
            EXPECT_EQ(0u, item.ex_style);
        }
    }
}

TEST(ProgramResources, TarnwickBackgroundBitmap)
{
    Module module(kTarnwickExe);
    const auto bytes = module.Resource(134, RT_BITMAP);
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    ASSERT_EQ(465, header.biWidth);
    ASSERT_EQ(230, header.biHeight); // bottom-up
    ASSERT_EQ(24, header.biBitCount);
    ASSERT_EQ(DWORD(BI_RGB), header.biCompression);
    const size_t stride = (465 * 3 + 3) & ~size_t{3};
    ASSERT_EQ(header.biSize + stride * 230, bytes.size());
    auto pixel = [&](int x, int y_from_top) {
        const unsigned char *p = &bytes[header.biSize + (229 - y_from_top) * stride + x * 3];
        return RGB(p[2], p[1], p[0]);
    };
    const COLORREF light = RGB(240, 240, 240), dark = RGB(60, 60, 60);
    // The dark rectangle covers columns 180..451 and rows 10..198 exactly.
    int dark_count = 0;
    for (int y = 0; y < 230; ++y) {
        for (int x = 0; x < 465; ++x) {
            const bool inside = x >= 180 && x <= 451 && y >= 10 && y <= 198;
            const COLORREF c = pixel(x, y);
            if (c != (inside ? dark : light)) {
                ADD_FAILURE() << "pixel " << x << "," << y;
                return;
            }
            dark_count += inside;
        }
    }
    EXPECT_EQ(272 * 189, dark_count);
}

} // namespace
