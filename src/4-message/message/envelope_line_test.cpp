#include "message/envelope_line.h"

#include <gtest/gtest.h>

#include <string>

#include "mbox_model.h"

namespace {

// The writer's matcher and the suite's model judge every line alike.
TEST(EnvelopeLineTest, Form) {
  struct Case {
    std::string line;
    bool envelope;
  } cases[] = {
      {"From MAILER-DAEMON Fri Apr 06 16:46:09 2001", true},
      {"From a@b Sun Sep 9 01:46:40 2001", true},
      {"From korvane  Sun Sep 9 01:46:40 2001", true},
      {"From a@b Thu Dec 31 23:59:59 1999 \t ", true},
      {"From !~\"x Sat Oct 00 99:99:99 0091", true},
      {"From a@b    Sun    Sep    9    01:46:40    2001", true},
      // Forms only some readers take: a zone, no seconds, a low year.
      {"From a@b Mon Jan 1 00:00:00 +0000 2001", false},
      {"From a@b Tue Feb 29 12:00:00 -0530 2000", false},
      {"From a@b Wed Mar 10 12:00:00 PST 1999", false},
      {"From a@b  Sun Sep 9 01:46 2001", false},
      {"From a@b Sun Sep 9 01:46:40 0090", false},
      {"From a@b Sun Sep 9 01:46:40 0000", false},
      {"From a@b Fri, 16 Mar 2007 19:46:14 +0000", false},
      {"From dave@example.org Fri, 16 Mar 2007 19:46:14 +0000", false},
      {"From x y", false},
      {"From ", false},
      {"From", false},
      {"From  a@b Sun Sep 9 01:46 2001", false},  // no sender
      {"from a@b Sun Sep 9 01:46 2001", false},   // "From" in its case
      {">From a@b Sun Sep 9 01:46 2001", false},
      {"From a@b SUN Sep 9 01:46 2001", false},  // name case
      {"From a@b Sun sep 9 01:46 2001", false},
      {"From a@b Sunday Sep 9 01:46 2001", false},
      {"From a@b Sun Sep 009 01:46 2001", false},  // day of three digits
      {"From a@b Sun Sep  01:46 2001", false},     // no day
      {"From a@b Sun Sep 9 1:46 2001", false},     // one-digit hour
      {"From a@b Sun Sep 9 01:46: 2001", false},
      {"From a@b Sun Sep 9 01:46:4 2001", false},
      {"From a@b Sun Sep 9 01-46 2001", false},
      {"From a@b Sun Sep 9 01:46 01", false},  // two-digit year
      {"From a@b Sun Sep 9 01:46 20011", false},
      {"From a@b Sun Sep 9 01:46 2001x", false},
      {"From a@b Sun Sep 9 01:46 +000 2001", false},
      {"From a@b Sun Sep 9 01:46 +00000 2001", false},
      {"From a@b Sun Sep 9 01:46 U2 2001", false},
      {"From a@b Sun Sep 9 01:46 UTC", false},  // zone, no year
      {"From a@b Sun Sep 9 01:46 UTC GMT 2001", false},
      {"From a@b Sun Sep 9 01:46 2001 x", false},
      {"From a@b\tSun Sep 9 01:46 2001", false},  // a tab between words
      {"From a@b Sun\tSep 9 01:46 2001", false},
      {"From J\xc3\xb6rg Sun Sep 9 01:46 2001", false},  // 8-bit sender
      {"From a\x7f Sun Sep 9 01:46 2001", false},
      {std::string("From a@b Sun Sep 9 01:46\0 2001", 30), false},
      {"From a@b Sun Sep 9 01:46 2001\r", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(
        c.envelope,
        IsEnvelopeLine(reinterpret_cast<const unsigned char*>(c.line.data()),
                       static_cast<int32_t>(c.line.size())));
    EXPECT_EQ(c.envelope, mbox_model::IsEnvelopeForm(c.line));
  }
}

}  // namespace
