// Who the console belongs to, and the wait before a console window closes.
//
// Explorer starts a console program that was double-clicked, or had files
// dropped on it, with a console window of its own that closes when the
// program ends. A command prompt, a script or a terminal shares its console
// with the program, or gives it files and pipes instead.
#ifndef KORVANE_PLATFORM_CONSOLE_H_
#define KORVANE_PLATFORM_CONSOLE_H_

enum class ConsoleOwner {
  kShared,       // a command prompt or a shell: nothing to wait for
  kThisProcess,  // a window of its own, gone when the program ends
  kRedirected,   // standard input or output is no console: a script
};

ConsoleOwner CurrentConsoleOwner();

// Forgets the keys pressed so far and waits until Enter is pressed or the
// input ends.
void WaitForEnterKey();

#endif  // KORVANE_PLATFORM_CONSOLE_H_
