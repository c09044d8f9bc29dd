// The page's own C++ that needs no browser, under Node: the options its address gives, the labels
// its script ties to their controls, and the templates laid out in the page's font.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/ports.h"
#include "ui/logic/dialog_templates.h"
#include "web/page_options.h"
#include "web/page_templates.h"

namespace kfw {
namespace {

TEST(PageOptions, TheAddressSwitchesEachOptionOnByItsName) {
  struct Case {
    const char* query;
    bool trace, simulator, fast;
  };
  const Case cases[] = {
      {"", false, false, false},
      {"?", false, false, false},
      {"?log", true, false, false},
      {"?simulator&fast", false, true, true},
      {"log&simulator=1&fast=yes", true, true, true},
      {"?fast=TRUE&log=on", true, false, true},
      {"?log=0&simulator=no&fast=false", false, false, false},
      {"?log=off&simulator=2", false, false, false},
      // Names are whole and case-sensitive, as the desktop program's switches are.
      {"?LOG&simulators&xfast&-log", false, false, false},
      {"?fast&fast=0", false, false, false},
      {"?&&log&&", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const ProgramOptions options = ReadPageOptions(c.query);
    EXPECT_EQ(options.trace, c.trace);
    EXPECT_EQ(options.simulator, c.simulator);
    EXPECT_EQ(options.fast, c.fast);
  }
}

// Each label names the control on its line, right of it; the colons, the bar's ends and the
// caption name nothing.
TEST(PageTemplates, EachLabelNamesTheControlOnItsLine) {
  const DialogTemplate& main = MainWindowTemplate();
  std::vector<std::pair<std::string, int>> named;
  for (const ControlTemplate& label : main.controls) {
    if (const ControlTemplate* control = LabelledControl(main, label)) {
      named.emplace_back(label.text, control->id);
    }
  }
  EXPECT_EQ(named, (std::vector<std::pair<std::string, int>>{
                       {"Transmit to", kTransmitToList},
                       {"Receive from", kReceiveFromList},
                       {"Serial #", kSerialField},
                       {"Current firmware version #", kVersionField},
                       {"Image filename", kImageNameField},
                       {"Product", kProductField},
                   }));
  const DialogTemplate& progress = ProgressWindowTemplate();
  for (const ControlTemplate& control : progress.controls) {
    EXPECT_EQ(LabelledControl(progress, control), nullptr) << control.text;
  }
}

// The layout is the windows' own arithmetic in the page's font: a font 13 pixels high whose
// letters are 312 pixels wide has dialog units of 6 / 4 and 13 / 8 pixels.
TEST(PageTemplates, LaysTheWindowsOutInThePagesFont) {
  const std::string json = PageLayoutJson(312, 13);
  const DialogBaseUnits units = BaseUnitsFromLetters(312, 13);
  ASSERT_EQ(units.averageCharWidth, 6);
  const auto has = [&](const std::string& text) {
    EXPECT_NE(json.find(text), std::string::npos) << text << " in " << json;
  };
  has("\"main\": {\"title\": \"Korvex Firmware Update Utility - V1.03b\", \"width\": " +
      std::to_string(HorizontalPixels(269, units)) +
      ", \"height\": " + std::to_string(VerticalPixels(146, units)));
  // Update: 143, 125, 50 x 14, disabled, the window's default button.
  has("{\"id\": 1001, \"element\": \"main-1001\", \"kind\": \"defaultButton\", \"text\": "
      "\"Update\", \"x\": 215, \"y\": 203, \"width\": 75, \"height\": 23, \"disabled\": true, "
      "\"names\": null}");
  // A list stands on one line; its template height holds the dropped list.
  has("{\"id\": 1003, \"element\": \"main-1003\", \"kind\": \"portList\", \"text\": \"\", \"x\": "
      "203, \"y\": 15, \"width\": 191, \"height\": 21");
  has("\"kind\": \"label\", \"text\": \"Transmit to\", \"x\": 11, \"y\": 15, \"width\": 141, "
      "\"height\": 21, \"disabled\": false, \"names\": \"main-1003\"}");
  // The progress window's IDs are its own: 1011 is Cancel there, the product's value here.
  has("\"progress\": {\"title\": \"\"");
  has("{\"id\": 1011, \"element\": \"progress-1011\", \"kind\": \"button\", \"text\": \"Cancel\"");
  has("{\"id\": -1, \"element\": \"progress-at-3\", \"kind\": \"label\", \"text\": \"100%\"");
}

}  // namespace
}  // namespace kfw
