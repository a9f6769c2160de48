// The panel file: the program's own file has the three panels with a consistent layout, and a
// bad file makes LoadPanel fail with a reason instead of crashing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/panel_ids.h"
#include "fixture.h"

namespace {

using fixture::kPanelFile;
using fixture::PanelTest;
using fixture::Slurp;
using fixture::TempDir;
using fixture::Write;

// The resize rule of the main panel, applied here to check the file's design against it.
void ApplyLayoutRule(int panel, int w, int h) {
    struct Rule {
        int control, attribute, offset;
        bool fromWidth;
    };
    const Rule rules[] = {
        {log_view_frame, ATTR_WIDTH, -293, true},   {log_view, ATTR_WIDTH, -313, true},
        {bottom_frame, ATTR_WIDTH, -13, true},      {logfile_frame, ATTR_WIDTH, -68, true},
        {status_frame, ATTR_WIDTH, -68, true},      {bottom_frame, ATTR_TOP, -76, false},
        {logfile_frame, ATTR_TOP, -68, false},      {status_frame, ATTR_TOP, -38, false},
        {logfile_caption, ATTR_TOP, -63, false},    {status_caption, ATTR_TOP, -32, false},
        {logfile_field, ATTR_TOP, -63, false},      {status_line, ATTR_TOP, -32, false},
        {log_view_frame, ATTR_HEIGHT, -100, false}, {sensor_list_frame, ATTR_HEIGHT, -100, false},
        {column_frame, ATTR_HEIGHT, -520, false},   {sensor_list, ATTR_HEIGHT, -130, false},
        {log_view, ATTR_HEIGHT, -130, false},
    };
    for (const Rule& r : rules) {
        SetCtrlAttribute(panel, r.control, r.attribute, (r.fromWidth ? w : h) + r.offset);
    }
}

TEST_F(PanelTest, MainPanelDesignAgreesWithTheResizeRuleAt800x600) {
    int w = 0, h = 0;
    GetPanelAttribute(mainPanel, ATTR_WIDTH, w);
    GetPanelAttribute(mainPanel, ATTR_HEIGHT, h);
    ASSERT_EQ(w, 800);
    ASSERT_EQ(h, 600);
    std::vector<ControlRect> before;
    for (int id = 1; id < 40; ++id) {
        before.push_back(ControlGeometry(mainPanel, id));
    }
    ApplyLayoutRule(mainPanel, 800, 600);
    for (int id = 1; id < 40; ++id) {
        const ControlRect now = ControlGeometry(mainPanel, id);
        const ControlRect& was = before[static_cast<std::size_t>(id - 1)];
        EXPECT_EQ(std::tie(now.left, now.top, now.width, now.height),
                  std::tie(was.left, was.top, was.width, was.height))
            << "control " << id;
    }
}

// Operable controls and texts must neither overlap each other nor leave the panel, at the
// design size and at a large one.
TEST_F(PanelTest, MainPanelControlsDoNotOverlapAtSmallAndLargeSizes) {
    const int decorations[] = {column_frame,  sensor_list_frame, log_view_frame,
                               logfile_frame, status_frame,      bottom_frame};
    for (const auto& [w, h] : {std::pair{800, 600}, std::pair{1280, 900}, std::pair{800, 580}}) {
        ApplyLayoutRule(mainPanel, w, h);
        std::vector<std::pair<int, ControlRect>> rects;
        for (int id = 1; id < 40; ++id) {
            const ControlRect r = ControlGeometry(mainPanel, id);
            if (r.width == 0 || std::find(std::begin(decorations), std::end(decorations), id) !=
                                    std::end(decorations)) {
                continue;
            }
            EXPECT_GE(r.left, 0) << id;
            EXPECT_GE(r.top, 0) << id;
            EXPECT_LE(r.left + r.width, w) << id << " at " << w << "x" << h;
            EXPECT_LE(r.top + r.height, h) << id << " at " << w << "x" << h;
            EXPECT_GT(r.height, 0) << id;
            rects.emplace_back(id, r);
        }
        for (std::size_t i = 0; i < rects.size(); ++i) {
            for (std::size_t j = i + 1; j < rects.size(); ++j) {
                const ControlRect& a = rects[i].second;
                const ControlRect& b = rects[j].second;
                const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                                   a.top + a.height <= b.top || b.top + b.height <= a.top;
                EXPECT_TRUE(apart)
                    << rects[i].first << " overlaps " << rects[j].first << " at " << w << "x" << h;
            }
        }
    }
}

TEST_F(PanelTest, AllThreePanelsLoadWithTheirControls) {
    const int splash = LoadPanel(0, kPanelFile, 3);
    ASSERT_GT(splash, 0);
    EXPECT_NE(splash, mainPanel);
    std::string value;
    EXPECT_EQ(GetCtrlVal(addressPanel, address_field, value), 0);
    EXPECT_EQ(ControlLabel(addressPanel, ADDRESS_OK), "Add");
    EXPECT_EQ(ControlLabel(addressPanel, ADDRESS_CANCEL), "Cancel");
    for (int id : {MAIN_ADD_SENSOR, MAIN_REMOVE_SENSOR, MAIN_SET_LOGFILE, MAIN_LOAD_CONFIG,
                   MAIN_SAVE_CONFIG, start_stop_button, MAIN_QUIT, log_error_line, comport_hint}) {
        EXPECT_GT(ControlGeometry(mainPanel, id).width, 0) << id;
    }
    EXPECT_EQ(ControlLabel(mainPanel, MAIN_SET_LOGFILE), "Set Logfile");
}

TEST(PanelFile, LoadFailuresGiveNegativeCodesAndAReason) {
    TempDir dir;
    std::string text = Slurp(kPanelFile);
    const std::string malformed = dir.file("malformed.uir");
    Write(malformed, text.substr(0, text.size() / 2));
    std::string noSplash = text;
    noSplash.replace(noSplash.find("\"resource\": 3"), 13, "\"resource\": 9");
    const std::string withoutSplash = dir.file("nosplash.uir");
    Write(withoutSplash, noSplash);
    std::string unknown = text;
    unknown.replace(unknown.find("\"quit_program\""), 14, "\"quit_programm\"");
    const std::string unknownCallback = dir.file("unknown.uir");
    Write(unknownCallback, unknown);
    const std::string other = dir.file("other.uir");
    Write(other, R"({"panels": []})");
    std::string badKind = text;
    badKind.replace(badKind.find("\"text_box\""), 10, "\"gauge\"");
    const std::string badKindFile = dir.file("badkind.uir");
    Write(badKindFile, badKind);

    struct Case {
        std::string file;
        int resource;
        int expected;
        std::string reason;
    };
    std::vector<Case> cases = {
        {dir.file("missing.uir"), 2, UIE_FILE_MISSING, "cannot be opened"},
        {malformed, 2, UIE_FILE_FORMAT, "JSON"},
        {withoutSplash, 3, UIE_NO_RESOURCE, "no panel 3"},
        {unknownCallback, 2, UIE_FILE_FORMAT, "quit_programm"},
        {other, 2, UIE_FILE_FORMAT, "not a panel file"},
        {badKindFile, 2, UIE_FILE_FORMAT, "gauge"},
    };
    // A named pipe or a device under the name fails at once, saying what it is.
    for (const auto& f : fixture::MakeNotRegularFiles(dir, ".uir")) {
        cases.push_back({f.path, 2, UIE_FILE_MISSING, "cannot be opened (it is " + f.kind});
    }
    ResetUiForTesting();
    const auto names = fixture::Names();
    EXPECT_EQ(LoadPanel(0, kPanelFile, 2), UIE_NOT_INITIALISED);
    InitRunTime(names);
    for (const Case& c : cases) {
        EXPECT_EQ(LoadPanel(0, c.file, c.resource), c.expected) << c.file;
        const std::string error = LastPanelFileError();
        EXPECT_NE(error.find(c.file), std::string::npos) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // The rest of a file that lacks the splash still loads.
    EXPECT_GT(LoadPanel(0, withoutSplash, 2), 0);
    EXPECT_EQ(LastPanelFileError(), "");
    ResetUiForTesting();
}

TEST(PanelFile, InitialisationIsIdempotent) {
    ResetUiForTesting();
    const auto names = fixture::Names();
    EXPECT_EQ(InitRunTime(names), 1);
    EXPECT_EQ(InitRunTime(nullptr, nullptr, nullptr), 1);
    EXPECT_GT(LoadPanel(0, kPanelFile, 2), 0);  // the names survive the second call
    ResetUiForTesting();
}

}  // namespace
