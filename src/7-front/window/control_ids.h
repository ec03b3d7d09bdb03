// The window's controls by number: the window makes them, the test program
// that drives it finds them. The numbers stay, so that a screen reader's
// settings and the test keep working from one version to the next.
#ifndef KORVANE_WINDOW_CONTROL_IDS_H_
#define KORVANE_WINDOW_CONTROL_IDS_H_

// The window class, which the test program looks for.
#define KORVANE_WINDOW_CLASS L"korvane.MainWindow"

enum ControlId {
  // The buttons at the bottom of every page; Enter and Esc press the first
  // two as in any dialog.
  kIdNext = 1,   // IDOK: Next >, Start
  kIdClose = 2,  // IDCANCEL: Cancel, Close
  kIdBack = 100,

  kIdTitle = 101,
  kIdIntro = 102,
  kIdProblem = 103,  // what keeps the page from going on

  kIdSourceLabel = 110,
  kIdSourceEdit = 111,
  kIdChooseFolder = 112,
  kIdChooseBase = 113,
  kIdSurveyLabel = 114,
  kIdSurveyList = 115,
  kIdSurveySummary = 116,

  kIdKindMbox = 130,  // four radio buttons, each with a line under it
  kIdKindMboxText = 131,
  kIdKindMaildir = 132,
  kIdKindMaildirText = 133,
  kIdKindEml = 134,
  kIdKindEmlText = 135,
  kIdKindAccount = 136,
  kIdKindAccountText = 137,
  kIdOutputLabel = 138,
  kIdOutputEdit = 139,
  kIdOutputBrowse = 140,
  kIdInventory = 141,
  kIdInventoryText = 142,

  kIdAddressLabel = 150,
  kIdAddressEdit = 151,
  kIdSignInText = 152,
  kIdSignIn = 153,
  kIdPasswordLabel = 154,
  kIdPasswordEdit = 155,
  kIdServerLabel = 156,
  kIdServerEdit = 157,
  kIdPortLabel = 158,
  kIdPortEdit = 159,
  kIdUserLabel = 160,
  kIdUserEdit = 161,
  kIdFolderLabel = 162,
  kIdFolderEdit = 163,

  kIdProgress = 170,
  kIdNowLabel = 171,  // "Folder:"
  kIdNow = 172,       // the folder in progress
  kIdMessagesLabel = 173,
  kIdMessages = 174,
  kIdTallyLabel = 175,  // an account: uploaded, already there, refused
  kIdTally = 176,
  kIdTimeLabel = 177,
  kIdTimeLeft = 178,
  kIdRunNotes = 179,  // why the run stopped or could not start

  kIdDoneList = 191,
  kIdNotesLabel = 192,
  kIdNotes = 193,
  kIdOpenOutput = 194,
  kIdSaveReport = 195,
};

#endif  // KORVANE_WINDOW_CONTROL_IDS_H_
