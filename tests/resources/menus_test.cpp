// Tests of the menu resources and accelerator table 303: every command reachable
// with its text, the command counts, and the keys of the accelerators.
#include "resources/menus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>
#include "resources/command_ids.h"

namespace tarmic {
namespace {

// Walks the menu independently of the platform helpers.
void CollectItems(const std::vector<MenuItem>& items, std::vector<const MenuItem*>& out) {
  for (const MenuItem& item : items) {
    if (item.popup) {
      CollectItems(item.children, out);
    } else if (!item.separator) {
      out.push_back(&item);
    }
  }
}

std::vector<const MenuItem*> Commands(const MenuResource& menu) {
  std::vector<const MenuItem*> out;
  CollectItems(menu.items, out);
  return out;
}

std::set<int> DistinctIds(const MenuResource& menu) {
  std::set<int> ids;
  for (const MenuItem* item : Commands(menu)) ids.insert(item->id);
  return ids;
}

const MenuItem* Item(const MenuResource& menu, int id) {
  for (const MenuItem* item : Commands(menu)) {
    if (item->id == id) return item;
  }
  return nullptr;
}

const MenuResource& Virez() { return GetMenuResource("MENU_VIREZ"); }
const MenuResource& Full() { return GetMenuResource("MENU_1"); }

// Both menus carry the switch between them, "Full Command Set", as the last item of
// their Options popup, and "Save Pictures..." in their Data popup, besides their 89
// and 208 commands.
TEST(MenuCounts, MenuVirezHas89DistinctCommandsSavePicturesAndTheSwitch) {
  EXPECT_EQ(Commands(Virez()).size(), 91u);
  EXPECT_EQ(DistinctIds(Virez()).size(), 91u);
  for (const MenuResource* menu : {&Virez(), &Full()}) {
    const auto options = std::find_if(menu->items.begin(), menu->items.end(),
                                      [](const MenuItem& m) { return m.text == "&Options"; });
    ASSERT_NE(options, menu->items.end());
    EXPECT_EQ(options->children.back().id, kCmFullCommandSet) << menu->name;
    EXPECT_EQ(options->children.back().text, "Full Command Set");
    EXPECT_NE(Item(*menu, kCmSavePictures), nullptr) << menu->name;
  }
}

TEST(MenuCounts, Menu1Has208DistinctCommandsSavePicturesWith904And923TwiceAndTheSwitch) {
  std::vector<const MenuItem*> items = Commands(Full());
  // 208, Save Pictures, the switch and Global Equilibrium Analysis.
  EXPECT_EQ(DistinctIds(Full()).size(), 211u);
  EXPECT_EQ(items.size(), 213u);
  std::map<int, int> occurrences;
  for (const MenuItem* item : items) ++occurrences[item->id];
  for (const auto& [id, count] : occurrences) {
    if (id == 904 || id == 923) {
      EXPECT_EQ(count, 2) << id;
    } else {
      EXPECT_EQ(count, 1) << id;
    }
  }
}

TEST(MenuCounts, PlatformHelperAgreesWithTheIndependentWalk) {
  for (const MenuResource* menu : {&Virez(), &Full()}) {
    std::vector<int> ids = MenuCommandIds(*menu);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), DistinctIds(*menu)) << menu->name;
  }
}

TEST(MenuContents, Menu1HoldsEveryVirezCommand) {
  std::set<int> full = DistinctIds(Full());
  for (int id : DistinctIds(Virez())) EXPECT_TRUE(full.count(id)) << id;
}

TEST(MenuContents, AcceleratedCommandsOnlyInMenu1AreAbsentFromVirez) {
  std::set<int> virez = DistinctIds(Virez());
  std::set<int> full = DistinctIds(Full());
  for (int id : {200, 542, 552, 608, 611}) {
    EXPECT_FALSE(virez.count(id)) << id;
    EXPECT_TRUE(full.count(id)) << id;
  }
}

TEST(MenuContents, CommandsWithoutMenuItemAreInNeitherMenu) {
  for (int id : {199, 837, 901, 915}) {
    EXPECT_FALSE(DistinctIds(Virez()).count(id)) << id;
    EXPECT_FALSE(DistinctIds(Full()).count(id)) << id;
  }
}

TEST(MenuContents, ExactTextsOfSampleCommands) {
  struct Expected {
    int id;
    const char* text;
  };
  // One command whose text differs between the two menus, and texts with "&" and "<->".
  const std::pair<const MenuResource*, Expected> samples[] = {
      // The Copy menu underlines each letter once: this item's is g.
      {&Virez(), {kCmCopyMavgData, "Copy Mwav&g Data"}},
      {&Full(), {kCmCopyMavgData, "Copy Mav&g Data"}},
      {&Virez(), {kCmSetFitLimits, "Set fit limits for meniscus & bottom"}},
      {&Full(), {kCmToggleCorrelationForm, "toggle intensity <-> field autocorrelation fct"}},
  };
  for (const auto& [menu, e] : samples) {
    const MenuItem* item = Item(*menu, e.id);
    ASSERT_NE(item, nullptr) << e.id;
    EXPECT_EQ(item->text, e.text);
  }
}

TEST(MenuContents, EveryCommandHasTextAndEveryPopupHasItems) {
  for (const MenuResource* menu : {&Virez(), &Full()}) {
    for (const MenuItem* item : Commands(*menu)) {
      EXPECT_GT(item->id, 0);
      EXPECT_FALSE(item->text.empty()) << item->id;
    }
    std::vector<const std::vector<MenuItem>*> pending = {&menu->items};
    while (!pending.empty()) {
      const std::vector<MenuItem>* items = pending.back();
      pending.pop_back();
      for (const MenuItem& item : *items) {
        if (!item.popup) continue;
        EXPECT_FALSE(item.children.empty()) << item.text;
        EXPECT_EQ(item.id, 0) << item.text;
        pending.push_back(&item.children);
      }
    }
  }
}

TEST(MenuLayout, VirezMenuBarHasPopupsAndTheFourBarCommands) {
  std::vector<std::string> texts;
  for (const MenuItem& item : Virez().items) texts.push_back(item.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"&Data", "&Copy", "Displa&y", "Mod&el",
                                             "&Parameters", "&ZOZAV", "&Run", "Fi&t",
                                             "&Statistics", "&Options", "&Help"}));
  for (const MenuItem& item : Virez().items) {
    bool command = item.text == "&Parameters" || item.text == "&ZOZAV" || item.text == "&Run" ||
                   item.text == "Fi&t";
    EXPECT_EQ(item.popup, !command) << item.text;
  }
  EXPECT_EQ(Virez().items[5].id, 896);
}

TEST(MenuLayout, Menu1AddsGenerateAndPlotPopups) {
  std::vector<std::string> virez, full;
  for (const MenuItem& item : Virez().items) virez.push_back(item.text);
  for (const MenuItem& item : Full().items) full.push_back(item.text);
  virez.insert(virez.begin() + 4, "Ge&nerate");
  virez.insert(virez.end() - 1, "P&lot");
  EXPECT_EQ(full, virez);
}

// Alt with a letter reaches every item of the menu bar: each has a mnemonic (the
// letter after "&"), no two items of a bar share one, and no Alt accelerator takes
// the letter first.
TEST(MenuLayout, EveryMenuBarItemHasAMnemonicOfItsOwn) {
  const AcceleratorTable& table = GetAcceleratorTable(303);
  for (const MenuResource* menu : {&Virez(), &Full()}) {
    std::set<char> letters;
    for (const MenuItem& item : menu->items) {
      const std::size_t amp = item.text.find('&');
      ASSERT_NE(amp, std::string::npos) << menu->name << ": " << item.text;
      ASSERT_LT(amp + 1, item.text.size()) << item.text;
      EXPECT_EQ(item.text.find('&', amp + 1), std::string::npos) << item.text;
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(item.text[amp + 1])));
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(letter))) << item.text;
      EXPECT_TRUE(letters.insert(letter).second) << menu->name << ": " << item.text << " repeats " << letter;
      EXPECT_FALSE(TranslateAccelerator(table, letter, MK_ALT).has_value())
          << menu->name << ": Alt+" << letter << " of " << item.text << " is an accelerator";
    }
  }
}

TEST(MenuLayout, SystematicNoiseIsASubmenuOfData) {
  const MenuItem& data = Virez().items.front();
  auto it = std::find_if(data.children.begin(), data.children.end(),
                         [](const MenuItem& m) { return m.text == "Save S&ystematic Noise"; });
  ASSERT_NE(it, data.children.end());
  ASSERT_EQ(it->children.size(), 2u);
  EXPECT_EQ(it->children[0].id, 252);
  EXPECT_EQ(it->children[1].id, 253);
}

TEST(Accelerators, Table303Has22EntriesEachReachable) {
  const AcceleratorTable& table = GetAcceleratorTable(303);
  ASSERT_EQ(table.entries.size(), 22u);
  // No key combination shadows another: each entry translates to its own command.
  for (const Accelerator& a : table.entries)
    EXPECT_EQ(TranslateAccelerator(table, a.key, a.mods), a.command) << a.command;
}

TEST(Accelerators, TranslateFindsCtrlLAndAltIButNotPlainL) {
  const AcceleratorTable& table = GetAcceleratorTable(303);
  EXPECT_EQ(TranslateAccelerator(table, 'L', MK_CONTROL), 200);
  EXPECT_EQ(TranslateAccelerator(table, 'I', MK_ALT), 542);
  EXPECT_EQ(TranslateAccelerator(table, 'I', MK_CONTROL), 456);
  EXPECT_FALSE(TranslateAccelerator(table, 'L', 0).has_value());
}

TEST(Accelerators, MenuItemsShowTheHintOfTheirAccelerator) {
  const AcceleratorTable& table = GetAcceleratorTable(303);
  std::map<int, std::string> hints;
  for (const Accelerator& a : table.entries) hints.emplace(a.command, AcceleratorHint(a));
  for (const MenuResource* menu : {&Virez(), &Full()}) {
    for (const MenuItem* item : Commands(*menu)) {
      auto it = hints.find(item->id);
      EXPECT_EQ(item->accelHint, it == hints.end() ? std::string() : it->second) << item->id;
    }
  }
  EXPECT_EQ(Item(Full(), 200)->accelHint, "^L");
  EXPECT_EQ(Item(Full(), 542)->accelHint, "Alt+I");
}

TEST(ResourceLookup, UnknownNamesAndIdsThrow) {
  EXPECT_THROW(GetMenuResource("MENU_ZOZAV"), std::invalid_argument);
  EXPECT_THROW(GetAcceleratorTable(304), std::invalid_argument);
}

}  // namespace
}  // namespace tarmic
