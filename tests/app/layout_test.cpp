// The main panel's layout when its size changes: fixed offsets from the inner width and height.
#include <algorithm>
#include <array>
#include <map>
#include <vector>

#include "app_fixture.h"

namespace veldra_test {
namespace {

// left, top, width, height
using Rect = std::array<int, 4>;
using Snapshot = std::map<int, Rect>;

// Every control of the main panel, by id.
Snapshot Geometry() {
    Snapshot s;
    for (int id = 1; id < 64; ++id) {
        const ControlRect r = ControlGeometry(main_panel, id);
        if (r.left != 0 || r.top != 0 || r.width != 0 || r.height != 0) {
            s[id] = {r.left, r.top, r.width, r.height};
        }
    }
    return s;
}

// Puts arbitrary values on every attribute the layout sets, so a layout that ran shows.
void Scramble() {
    for (int id : {log_view_frame, log_view, bottom_frame, logfile_frame, status_frame,
                   logfile_caption, status_caption, logfile_field, status_line, sensor_list_frame,
                   column_frame, sensor_list}) {
        SetCtrlAttribute(main_panel, id, ATTR_TOP, 3 + id);
        SetCtrlAttribute(main_panel, id, ATTR_WIDTH, 5 + id);
        SetCtrlAttribute(main_panel, id, ATTR_HEIGHT, 7 + id);
    }
}

class LayoutTest : public AppTest {
  protected:
    void SetUp() override {
        AppTest::SetUp();
        LoadPanels();
    }
};

TEST_F(LayoutTest, At800By600EveryControlGetsTheTableValue) {
    ASSERT_EQ(SimulatePanelResize(main_panel, 1000, 700), 0);
    ASSERT_EQ(SimulatePanelResize(main_panel, 800, 600), 0);
    struct Expect {
        int id, top, width, height;  // -1: not set by the layout
    };
    const Expect table[] = {
        {log_view_frame, -1, 507, 500}, {log_view, -1, 487, 470},
        {bottom_frame, 524, 787, -1},   {logfile_frame, 532, 732, -1},
        {status_frame, 562, 732, -1},   {logfile_caption, 537, -1, -1},
        {status_caption, 568, -1, -1},  {logfile_field, 537, -1, -1},
        {status_line, 568, -1, -1},     {sensor_list_frame, -1, -1, 500},
        {column_frame, -1, -1, 80},     {sensor_list, -1, -1, 470},
    };
    for (const Expect& e : table) {
        SCOPED_TRACE(e.id);
        const ControlRect r = ControlGeometry(main_panel, e.id);
        if (e.top >= 0) {
            EXPECT_EQ(r.top, e.top);
        }
        if (e.width >= 0) {
            EXPECT_EQ(r.width, e.width);
        }
        if (e.height >= 0) {
            EXPECT_EQ(r.height, e.height);
        }
    }
}

TEST_F(LayoutTest, GrowingMovesAndStretchesExactlyTheListedControls) {
    ASSERT_EQ(SimulatePanelResize(main_panel, 800, 600), 0);
    const Snapshot before = Geometry();
    const int dx = 237;
    const int dy = 151;
    ASSERT_EQ(SimulatePanelResize(main_panel, 800 + dx, 600 + dy), 0);
    const Snapshot after = Geometry();
    ASSERT_EQ(after.size(), before.size());

    const std::vector<int> movedDown = {bottom_frame,    logfile_frame,  status_frame,
                                        logfile_caption, status_caption, logfile_field,
                                        status_line};
    const std::vector<int> widened = {log_view, log_view_frame, bottom_frame, logfile_frame,
                                      status_frame};
    const std::vector<int> lengthened = {log_view, log_view_frame, sensor_list, sensor_list_frame,
                                         column_frame};
    const auto in = [](const std::vector<int>& v, int id) {
        return std::find(v.begin(), v.end(), id) != v.end();
    };
    for (const auto& [id, b] : before) {
        SCOPED_TRACE(id);
        const Rect expected = {b[0], b[1] + (in(movedDown, id) ? dy : 0),
                               b[2] + (in(widened, id) ? dx : 0),
                               b[3] + (in(lengthened, id) ? dy : 0)};
        EXPECT_EQ(after.at(id), expected);
    }
}

TEST_F(LayoutTest, TheThreeSizeEventsLayOutAlikeAndARepeatChangesNothing) {
    ASSERT_EQ(SetPanelAttribute(main_panel, ATTR_WIDTH, 913), 0);
    ASSERT_EQ(SetPanelAttribute(main_panel, ATTR_HEIGHT, 677), 0);
    std::vector<Snapshot> results;
    for (int event : {EVENT_PANEL_SIZE, EVENT_PANEL_SIZING, EVENT_PANEL_RESIZED}) {
        Scramble();
        EXPECT_EQ(mainpanel_callback(main_panel, event, nullptr, 0, 0), 0);
        results.push_back(Geometry());
        EXPECT_EQ(mainpanel_callback(main_panel, event, nullptr, 0, 0), 0);
        EXPECT_EQ(Geometry(), results.back()) << "event " << event;
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
    EXPECT_EQ(ControlGeometry(main_panel, log_view).width, 913 - 313);
    EXPECT_EQ(ControlGeometry(main_panel, status_line).top, 677 - 32);
}

TEST_F(LayoutTest, OtherEventsChangeNothing) {
    ASSERT_EQ(SimulatePanelResize(main_panel, 1024, 768), 0);
    Scramble();
    const Snapshot before = Geometry();
    for (int event : {0, EVENT_COMMIT, 2, 3, 12, 36, 38, 51, 54, 1000, -1}) {
        EXPECT_EQ(mainpanel_callback(main_panel, event, nullptr, 0, 0), 0);
        EXPECT_EQ(Geometry(), before) << "event " << event;
    }
}

TEST_F(LayoutTest, SmallHeightsArePassedOnUnbounded) {
    struct Case {
        int height, columnFrame, sensorList;
    };
    for (const Case c :
         {Case{520, 0, 390}, Case{519, -1, 389}, Case{400, -120, 270}, Case{100, -420, -30}}) {
        SCOPED_TRACE(c.height);
        ASSERT_EQ(SetPanelAttribute(main_panel, ATTR_HEIGHT, c.height), 0);
        ASSERT_EQ(mainpanel_callback(main_panel, EVENT_PANEL_RESIZED, nullptr, 0, 0), 0);
        EXPECT_EQ(ControlGeometry(main_panel, column_frame).height, c.columnFrame);
        EXPECT_EQ(ControlGeometry(main_panel, sensor_list).height, c.sensorList);
        EXPECT_EQ(ControlGeometry(main_panel, bottom_frame).top, c.height - 76);
    }
}

}  // namespace
}  // namespace veldra_test
