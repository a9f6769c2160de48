// Editing the sensor list through the address dialog and the remove command, driven as a user
// would: typing into the dialog's field and committing the commands.
#include <string>
#include <vector>

#include "app_fixture.h"

namespace veldra_test {
namespace {

enum class Act { Open, Type, Confirm, Cancel, Select, Remove };
struct Step {
    Act act;
    int value = 0;
};

struct ListCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<Item> items;  // the list afterwards
    int field;                // address_field afterwards
    bool dialogVisible;
};

class SensorListTest : public AppTest, public ::testing::WithParamInterface<ListCase> {};

void Perform(const Step& step) {
    switch (step.act) {
        case Act::Open:
            ASSERT_EQ(SimulateCommit(main_panel, MAIN_ADD_SENSOR), 0);
            break;
        case Act::Type:
            ASSERT_EQ(SetCtrlVal(address_panel, address_field, step.value), 0);
            break;
        case Act::Confirm:
            ASSERT_EQ(SimulateCommit(address_panel, ADDRESS_OK), 0);
            break;
        case Act::Cancel:
            ASSERT_EQ(SimulateCommit(address_panel, ADDRESS_CANCEL), 0);
            break;
        case Act::Select:
            ASSERT_EQ(SetCtrlIndex(main_panel, sensor_list, step.value), 0);
            break;
        case Act::Remove:
            ASSERT_EQ(SimulateCommit(main_panel, MAIN_REMOVE_SENSOR), 0);
            break;
    }
}

TEST_P(SensorListTest, EditsTheListAsTheUserDoes) {
    LoadPanels();
    ClearSensorList();  // whatever the panel file holds
    for (const Step& step : GetParam().steps) {
        Perform(step);
    }
    EXPECT_EQ(ListItems(), GetParam().items);
    EXPECT_EQ(Int(address_panel, address_field), GetParam().field);
    EXPECT_EQ(IsPanelVisible(address_panel), GetParam().dialogVisible);
    EXPECT_TRUE(popups_.messages.empty());
}

const ListCase kCases[] = {
    {"RemoveFromEmptyList", {{Act::Remove}}, {}, 0, false},
    {"RemoveTheOnlyItem",
     {{Act::Open}, {Act::Type, 0xA1B2}, {Act::Confirm}, {Act::Select, 0}, {Act::Remove}},
     {},
     0xA1B2,
     false},
    {"RemoveTheSelectedOfThree",
     {{Act::Open},
      {Act::Type, 1},
      {Act::Confirm},
      {Act::Open},
      {Act::Type, 2},
      {Act::Confirm},
      {Act::Open},
      {Act::Type, 3},
      {Act::Confirm},
      {Act::Select, 1},
      {Act::Remove}},
     {{"Adr. 000001", 1}, {"Adr. 000003", 3}},
     3,
     false},
    {"DuplicateAddressIsAddedAgain",
     {{Act::Open},
      {Act::Type, 0x0A1B2C},
      {Act::Confirm},
      {Act::Open},
      {Act::Type, 0x0A1B2C},
      {Act::Confirm}},
     {{"Adr. 0A1B2C", 0x0A1B2C}, {"Adr. 0A1B2C", 0x0A1B2C}},
     0x0A1B2C,
     false},
    {"CancelKeepsTheTypedAddress",
     {{Act::Open}, {Act::Type, 0x123456}, {Act::Cancel}, {Act::Open}},
     {},
     0x123456,
     true},
    {"AddTwiceWithoutTyping",
     {{Act::Open}, {Act::Type, 0xFFFFFF}, {Act::Confirm}, {Act::Open}, {Act::Confirm}},
     {{"Adr. FFFFFF", 0xFFFFFF}, {"Adr. FFFFFF", 0xFFFFFF}},
     0xFFFFFF,
     false},
    {"NewItemsGoToTheEnd",
     {{Act::Open},
      {Act::Type, 0x20},
      {Act::Confirm},
      {Act::Select, 0},
      {Act::Open},
      {Act::Type, 0x10},
      {Act::Confirm}},
     {{"Adr. 000020", 0x20}, {"Adr. 000010", 0x10}},
     0x10,
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, SensorListTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SensorLabel, PadsToSixDigitsButNeverCuts) {
    EXPECT_EQ(sensor_label(0), "Adr. 000000");
    EXPECT_EQ(sensor_label(0xA1B2), "Adr. 00A1B2");
    EXPECT_EQ(sensor_label(0xFFFFFF), "Adr. FFFFFF");
    EXPECT_EQ(sensor_label(1 << 24), "Adr. 1000000");
    EXPECT_EQ(sensor_label(0x7FFFFFFF), "Adr. 7FFFFFFF");
    EXPECT_EQ(sensor_label(-1), "Adr. FFFFFFFF");
}

// The address dialog does not block the main panel: its commands still work while it shows.
TEST_F(AppTest, MainPanelStaysOperableWhileTheDialogShows) {
    LoadPanels();
    ASSERT_EQ(SimulateCommit(main_panel, MAIN_ADD_SENSOR), 0);
    ASSERT_TRUE(IsPanelVisible(address_panel));
    SetCtrlVal(address_panel, address_field, 0x42);
    ASSERT_EQ(SimulateCommit(address_panel, ADDRESS_OK), 0);
    ASSERT_EQ(SimulateCommit(main_panel, MAIN_ADD_SENSOR), 0);
    SetCtrlIndex(main_panel, sensor_list, 0);
    ASSERT_EQ(SimulateCommit(main_panel, MAIN_REMOVE_SENSOR), 0);
    EXPECT_TRUE(ListItems().empty());
    EXPECT_TRUE(IsPanelVisible(address_panel));
}

}  // namespace
}  // namespace veldra_test
