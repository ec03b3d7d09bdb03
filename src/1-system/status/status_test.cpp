#include "status/status.h"

#include <gtest/gtest.h>

#include "platform/system_error.h"

TEST(StatusTest, SystemCodesTakeTheirKindAndWords) {
  struct Case {
    DWORD code;
    StatusKind kind;
  } cases[] = {
      {ERROR_SUCCESS, StatusKind::kOk},
      {ERROR_FILE_NOT_FOUND, StatusKind::kNotFound},
      {ERROR_ALREADY_EXISTS, StatusKind::kExists},
      {ERROR_ACCESS_DENIED, StatusKind::kAccessDenied},
      {ERROR_DISK_FULL, StatusKind::kDiskFull},
      {ERROR_FILE_INVALID, StatusKind::kBadInput},
      {ERROR_GEN_FAILURE, StatusKind::kOther},
  };
  for (const Case& c : cases) {
    const Status s = Status::System(c.code);
    EXPECT_EQ(s.Kind(), c.kind) << c.code;
    EXPECT_EQ(s.Code(), c.code);
    EXPECT_EQ(s.IsOk(), c.code == ERROR_SUCCESS);
    EXPECT_EQ(s.Text(), c.code == ERROR_SUCCESS ? "" : SystemErrorText(c.code));
  }
}

TEST(StatusTest, OwnWordsAndContext) {
  const Status refused =
      Status::Of(StatusKind::kRefused, "NO [OVERQUOTA] quota exceeded");
  EXPECT_EQ(refused.Code(), ERROR_SUCCESS);
  EXPECT_EQ(refused.Within("can't upload into X").Text(),
            "can't upload into X: NO [OVERQUOTA] quota exceeded");
  EXPECT_EQ(refused.Within("x").Kind(), StatusKind::kRefused);
  EXPECT_EQ(Status::System(ERROR_DISK_FULL).Within("can't write a").Text(),
            "can't write a: " + SystemErrorText(ERROR_DISK_FULL));
  EXPECT_TRUE(Status::Ok().Within("anything").IsOk());
}
