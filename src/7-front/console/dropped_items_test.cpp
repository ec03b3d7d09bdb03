#include "console/dropped_items.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

const ConsoleOwner kOwn = ConsoleOwner::kThisProcess;
const ConsoleOwner kShared = ConsoleOwner::kShared;
const ConsoleOwner kRedirected = ConsoleOwner::kRedirected;

// Arguments separated by "|", each after a sign for what it names on disk:
// "+" a folder, "=" a file, "?" nothing.
struct Case {
  ConsoleOwner owner;
  const char* items;
  const char* plan;  // as Describe() writes it
};

std::string Describe(const LaunchPlan& plan) {
  std::ostringstream text;
  if (plan.action == LaunchPlan::Action::kAsTyped) text << "typed";
  if (plan.action == LaunchPlan::Action::kHelp) text << "help";
  for (const std::vector<std::string>& run : plan.runs) {
    text << (&run == &plan.runs[0] ? "" : ";");
    for (const std::string& arg : run) text << "[" << arg << "]";
  }
  if (plan.waitForEnter) text << ", wait";
  return text.str();
}

const Case kCases[] = {
    // A command prompt, a terminal or a script: the command line as typed,
    // even where it names what exists, and no wait.
    {kShared, "+C:\\Mail", "typed"},
    {kShared, "", "typed"},
    {kRedirected, "=C:\\a.tbb", "typed"},
    {kRedirected, "", "typed"},
    // Explorer: a double click, and items dropped on the program.
    {kOwn, "", "help, wait"},
    {kOwn, "+C:\\My Mail", "[C:\\My Mail][-r], wait"},
    {kOwn, "=C:\\In\\messages.tbb", "[C:\\In\\messages.tbb], wait"},
    {kOwn, "=D:\\b.tbb|+D:\\Mail|=D:\\a.tbb",
     "[D:\\b.tbb];[D:\\Mail][-r];[D:\\a.tbb], wait"},
    // A window of its own but no drop (a shortcut with switches, a name
    // that does not exist): as typed, and the window still waits.
    {kOwn, "+C:\\Mail|?-r", "typed, wait"},
    {kOwn, "+C:\\Mail|=-m", "typed, wait"},  // a file named like a switch
    {kOwn, "+C:\\Mail|?C:\\gone.tbb", "typed, wait"},
    {kOwn, "?*", "typed, wait"},
    {kOwn, "=", "typed, wait"},  // an empty argument
};

TEST(DroppedItemsTest, PlanFromConsoleOwnerAndItems) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.items);
    std::vector<std::string> args;
    std::vector<ItemKind> kinds;
    std::istringstream items(c.items);
    for (std::string item; std::getline(items, item, '|');) {
      kinds.push_back(item[0] == '+'   ? ItemKind::kFolder
                      : item[0] == '=' ? ItemKind::kFile
                                       : ItemKind::kMissing);
      args.push_back(item.substr(1));
    }
    EXPECT_EQ(c.plan, Describe(PlanLaunch(c.owner, args, kinds)));
  }
  // Kinds not known for every argument: none is taken for a dropped item.
  EXPECT_EQ("typed, wait", Describe(PlanLaunch(kOwn, {"C:\\Mail"}, {})));
}

}  // namespace
