#include "console/dropped_items.h"

#include <stdio.h>

#include <algorithm>

#include "console/command_line.h"
#include "console/run.h"
#include "platform/win32.h"

namespace {

// A switch, or nothing, is never what Explorer passes for a dropped item.
bool IsSwitchOrEmpty(const std::string& arg) {
  return arg.empty() || arg[0] == '-' || (kSlashSwitches && arg[0] == '/');
}

ItemKind KindOf(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ItemKind::kMissing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemKind::kFolder
                                                 : ItemKind::kFile;
}

int RunArguments(char* program, const std::vector<std::string>& args) {
  std::vector<std::string> owned(args);
  std::vector<char*> argv{program};
  for (std::string& arg : owned) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return RunKorvane(static_cast<int>(argv.size() - 1), argv.data());
}

// Each item in turn, then one line per item on how it ended.
int RunDroppedItems(char* program, const LaunchPlan& plan) {
  const int count = static_cast<int>(plan.runs.size());
  std::vector<int> statuses;
  for (int i = 0; i < count; ++i) {
    if (count > 1) {
      printf("%s== dropped item %d of %d: %s\n", i == 0 ? "" : "\n", i + 1,
             count, plan.runs[i][0].c_str());
      fflush(stdout);
    }
    statuses.push_back(RunArguments(program, plan.runs[i]));
    fflush(stdout);
  }
  if (count > 1) {
    printf("\nsummary of %d dropped items:\n", count);
    for (int i = 0; i < count; ++i) {
      if (statuses[i] == 0)
        printf("  done      %s\n", plan.runs[i][0].c_str());
      else
        printf("  status %d  %s: see its messages above\n", statuses[i],
               plan.runs[i][0].c_str());
    }
  }
  return *std::max_element(statuses.begin(), statuses.end());
}

}  // namespace

LaunchPlan PlanLaunch(ConsoleOwner owner, const std::vector<std::string>& args,
                      const std::vector<ItemKind>& kinds) {
  LaunchPlan plan;
  if (owner != ConsoleOwner::kThisProcess) return plan;
  plan.waitForEnter = true;
  if (args.empty()) {
    plan.action = LaunchPlan::Action::kHelp;
    return plan;
  }
  // Explorer passes full names of what exists; anything else (a shortcut
  // with switches, say) is a command line as typed.
  for (size_t i = 0; i < args.size(); ++i) {
    const ItemKind kind = i < kinds.size() ? kinds[i] : ItemKind::kMissing;
    if (IsSwitchOrEmpty(args[i]) || kind == ItemKind::kMissing) {
      plan.runs.clear();
      return plan;
    }
    plan.runs.push_back(kind == ItemKind::kFolder
                            ? std::vector<std::string>{args[i], "-r"}
                            : std::vector<std::string>{args[i]});
  }
  plan.action = LaunchPlan::Action::kDroppedItems;
  return plan;
}

int RunAsLaunched(int argc, char** argv) {
  if (argc < 1) return RunKorvane(argc, argv);
  const ConsoleOwner owner = CurrentConsoleOwner();
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<ItemKind> kinds;
  if (owner == ConsoleOwner::kThisProcess)
    for (const std::string& arg : args) kinds.push_back(KindOf(arg));
  const LaunchPlan plan = PlanLaunch(owner, args, kinds);

  int status = 0;
  switch (plan.action) {
    case LaunchPlan::Action::kAsTyped:
      status = RunKorvane(argc, argv);
      break;
    case LaunchPlan::Action::kHelp:
      status = RunArguments(argv[0], {"--help"});
      break;
    case LaunchPlan::Action::kDroppedItems:
      status = RunDroppedItems(argv[0], plan);
      break;
  }
  if (plan.waitForEnter) {
    printf("\nPress Enter to close this window.");
    fflush(stdout);
    WaitForEnterKey();
    printf("\n");
  }
  return status;
}
