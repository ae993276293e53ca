// Dialog Manager: resources parsed and refused when damaged, dialogs built
// from the codec's resources, the drivers, the standard compression dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImageCodec.h"
#include "MacMemory.h"
#include "quicktime/host/src/DialogsInternal.h"
#include "Resources.h"

namespace {

std::string P2S(const Str255 s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

struct CodecDialog : ::testing::Test {
  SInt16 ref = -1;
  DialogRef d = nullptr;
  void SetUp() override {
    ref = HostOpenResFile(std::getenv("ORX_TEST_RESOURCES"));
    ASSERT_GT(ref, 0);
    d = GetNewDialog(16501, nullptr, kFirstWindowOfClass);
    ASSERT_NE(d, nullptr);
  }
  void TearDown() override {
    HostSetModalDialogDriver(nullptr, nullptr);
    DisposeDialog(d);
    CloseResFile(ref);
  }
  ControlRef Control(SInt16 item) {
    ControlRef c = nullptr;
    EXPECT_EQ(GetDialogItemAsControl(d, item, &c), noErr) << item;
    return c;
  }
};

}  // namespace

TEST(DialogResources, DamagedDataIsRefused) {
  // One button "Ok" and one control item 'CNTL' 129.
  // An empty item list is written as a count word of 0xFFFF.
  const std::vector<uint8_t> none = {0xFF, 0xFF};
  std::vector<HostDITLItem> empty;
  EXPECT_TRUE(HostParseDITL(none.data(), none.size(), &empty));
  EXPECT_TRUE(empty.empty());
  const std::vector<uint8_t> ditl = {0, 1, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 4, 2, 'O', 'k',
                                     0, 0, 0, 0, 0, 5, 0, 6, 0, 7, 0, 8, 7, 2, 0, 129};
  std::vector<HostDITLItem> items;
  ASSERT_TRUE(HostParseDITL(ditl.data(), ditl.size(), &items));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "Ok");
  EXPECT_EQ(items[0].box.bottom, 3);
  EXPECT_EQ(items[1].resourceID, 129);
  for (size_t cut = 0; cut < ditl.size(); ++cut)
    EXPECT_FALSE(HostParseDITL(ditl.data(), cut, &items)) << "cut at " << cut;
  auto longData = ditl;
  longData[15] = 200;  // item data runs past the end
  EXPECT_FALSE(HostParseDITL(longData.data(), longData.size(), &items));
  auto badControl = ditl;
  badControl[31] = 3;  // a control item's data is its 2-byte ID
  EXPECT_FALSE(HostParseDITL(badControl.data(), badControl.size(), &items));

  const std::vector<uint8_t> menu = {0, 129, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 'P',
                                     1, 'a', 0, 0, 0, 0, 2, 'b', 'c', 0, 0, 0, 0, 0};
  HostMENU m;
  ASSERT_TRUE(HostParseMENU(menu.data(), menu.size(), &m));
  EXPECT_EQ(m.items, (std::vector<std::string>{"a", "bc"}));
  EXPECT_FALSE(HostParseMENU(menu.data(), menu.size() - 1, &m));  // no end byte
  HostCNTL c;
  EXPECT_FALSE(HostParseCNTL(menu.data(), 10, &c));
  HostDLOG dl;
  EXPECT_FALSE(HostParseDLOG(menu.data(), 20, &dl));
}

TEST_F(CodecDialog, BuiltFromTheCodecResources) {
  Str255 title;
  HostGetDialogTitle(d, title);
  EXPECT_EQ(P2S(title), "ORX Preferences");
  Rect bounds;
  HostGetDialogBounds(d, &bounds);
  EXPECT_EQ(bounds.bottom, 168);
  EXPECT_EQ(bounds.right, 420);
  ASSERT_EQ(CountDITL(d), 5);
  DialogItemType type;
  Handle h;
  Rect box;
  GetDialogItem(d, 2, &type, &h, &box);
  EXPECT_EQ(type, kButtonDialogItem);
  GetDialogItemText(h, title);
  EXPECT_EQ(P2S(title), "Cancel");
  EXPECT_EQ(box.left, 330);
  struct Popup {
    SInt16 item;
    const char* title;
    SInt16 count;
    const char* second;
  };
  for (Popup p : {Popup{3, "Transparency", 2, "Preserve Alpha Channel"}, Popup{4, "Optimize For", 3, "Performance"},
                  Popup{5, "Threads", 9, "1x"}}) {
    ControlRef c = Control(p.item);
    ASSERT_NE(c, nullptr);
    GetControlTitle(c, title);
    EXPECT_EQ(P2S(title), p.title);
    EXPECT_EQ(HostGetPopupItemCount(c), p.count);
    EXPECT_EQ(GetControlValue(c), 1);
    EXPECT_EQ(GetControlMinimum(c), 1);
    EXPECT_EQ(GetControlMaximum(c), p.count);
    HostGetPopupItemText(c, 2, title);
    EXPECT_EQ(P2S(title), p.second);
    EXPECT_EQ(HostGetControlProcID(c), 1009);
  }
  // A popup keeps a value outside its menu, so it can be read back unchanged.
  SetControlValue(Control(5), 40);
  EXPECT_EQ(GetControlValue(Control(5)), 40);
  ControlRef none = nullptr;
  EXPECT_NE(GetDialogItemAsControl(d, 6, &none), noErr);
  EXPECT_EQ(none, nullptr);

  // The panel appended below the dialog's items.
  Handle panel = GetResource(FOUR_CHAR_CODE('D', 'I', 'T', 'L'), 129);
  ASSERT_NE(panel, nullptr);
  AppendDITL(d, panel, appendDITLBottom);
  ASSERT_EQ(CountDITL(d), 8);
  GetDialogItem(d, 6, &type, &h, &box);
  EXPECT_EQ(box.top, 148);  // below the lowest item (the buttons end at 148)
  EXPECT_EQ(HostGetPopupItemCount(Control(8)), 9);
}

TEST_F(CodecDialog, ScriptedAndTerminalDrivers) {
  HostDialogScriptStep steps[2]{};
  steps[0].setCount = 2;
  steps[0].sets[0] = {3, 2};
  steps[0].sets[1] = {5, 4};
  steps[0].hit = 5;
  steps[1].hit = 1;
  HostDialogScript script{steps, 2, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  SetDialogCancelItem(d, 2);
  DialogItemIndex hit = 0;
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 5);
  EXPECT_EQ(GetControlValue(Control(3)), 2);
  EXPECT_EQ(GetControlValue(Control(5)), 4);
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 1);
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 2);  // script exhausted: cancel

  // A person at a terminal: a bad line, a popup choice (itself a hit on that
  // item), then an invalid value and "ok".
  char input[] = "9 1\n4 3\n4 7\n4 0\nok\n";
  FILE* in = fmemopen(input, std::strlen(input), "r");
  char* printed = nullptr;
  size_t printedSize = 0;
  FILE* out = open_memstream(&printed, &printedSize);
  HostTerminalIO io{in, out};
  HostSetModalDialogDriver(HostTerminalDialogDriver, &io);
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 4);
  EXPECT_EQ(GetControlValue(Control(4)), 3);
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 1);
  std::fclose(out);
  std::fclose(in);
  const std::string text(printed, printedSize);
  std::free(printed);
  EXPECT_NE(text.find("ORX Preferences"), std::string::npos);
  EXPECT_NE(text.find("Optimize For: [Quality]"), std::string::npos) << text;
  EXPECT_NE(text.find("Optimize For: [VovorEvaded]"), std::string::npos) << text;
  EXPECT_NE(text.find("Item 9 is not an item of this dialog"), std::string::npos);
  const size_t refused = text.find("Item 4 has choices 1 to 3");
  ASSERT_NE(refused, std::string::npos);
  EXPECT_NE(text.find("Item 4 has choices 1 to 3", refused + 1), std::string::npos) << "0 is no choice either";
  // Drawn whole once; afterwards only the popup that changed is printed.
  size_t drawings = 0;
  for (size_t at = text.find("== ORX Preferences =="); at != std::string::npos; at = text.find("== ORX Preferences ==", at + 1))
    ++drawings;
  EXPECT_EQ(drawings, 1u) << text;
  EXPECT_EQ(text.find("Threads:", text.find("VovorEvaded]")), std::string::npos) << text;

  // End of input cancels.
  char empty[] = "";
  in = fmemopen(empty, 1, "r");
  out = std::fopen("/dev/null", "w");
  HostTerminalIO io2{in, out};
  HostSetModalDialogDriver(HostTerminalDialogDriver, &io2);
  std::fgetc(in);
  ModalDialog(nullptr, &hit);
  EXPECT_EQ(hit, 2);
  std::fclose(in);
  std::fclose(out);
}

namespace {

// A compressor that only has a panel: it records the panel requests.
std::vector<int> g_requests;
SInt16 g_offset = -1;

ComponentResult FakePanelCompressor(ComponentParameters* p, Handle) {
  g_requests.push_back(p->what);
  switch (p->what) {
    case kComponentOpenSelect:
    case kComponentCloseSelect: return noErr;
    case kImageCodecGetDITLForSizeSelect: {
      // Its own panel: one static text item.
      const uint8_t ditl[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 100, 8, 4, 'H', 'i', '!', '!'};
      Handle h = NewHandle(sizeof ditl);
      std::memcpy(*h, ditl, sizeof ditl);
      *reinterpret_cast<Handle*>(p->params[0]) = h;
      return noErr;
    }
    case kImageCodecDITLInstallSelect:
    case kImageCodecDITLItemSelect:
    case kImageCodecDITLRemoveSelect: g_offset = static_cast<SInt16>(p->params[1]); return noErr;
    case kImageCodecDITLValidateInputSelect: *reinterpret_cast<Boolean*>(p->params[0]) = TRUE; return noErr;
    default: return badComponentSelector;
  }
}

}  // namespace

TEST(StandardCompressionDialog, DrivesThePanelRequestsInOrder) {
  ComponentDescription cd{FOUR_CHAR_CODE('i', 'm', 'c', 'o'), FOUR_CHAR_CODE('T', 'E', 'S', 'T'), 0, 0, 0};
  Component c = RegisterComponent(&cd, FakePanelCompressor, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(c, nullptr);
  ComponentInstance ci = OpenComponent(c);
  ASSERT_NE(ci, nullptr);
  HostDialogScriptStep steps[2]{};
  steps[0].hit = 3;  // the panel's item
  steps[1].hit = 1;  // OK
  HostDialogScript script{steps, 2, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script);
  g_requests.clear();
  EXPECT_EQ(HostRunStandardCompressionDialog(ci), noErr);
  EXPECT_EQ(g_requests, (std::vector<int>{kImageCodecGetDITLForSizeSelect, kImageCodecDITLInstallSelect,
                                          kImageCodecDITLItemSelect, kImageCodecDITLValidateInputSelect,
                                          kImageCodecDITLRemoveSelect}));
  EXPECT_EQ(g_offset, 2);

  HostDialogScriptStep cancel{};
  cancel.hit = 2;
  HostDialogScript script2{&cancel, 1, 0};
  HostSetModalDialogDriver(HostScriptedDialogDriver, &script2);
  g_requests.clear();
  EXPECT_EQ(HostRunStandardCompressionDialog(ci), userCanceledErr);
  EXPECT_EQ(g_requests.back(), kImageCodecDITLRemoveSelect);
  HostSetModalDialogDriver(nullptr, nullptr);
  CloseComponent(ci);
}
