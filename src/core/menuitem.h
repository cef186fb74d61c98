#pragma once

// The items of the menu panel, by their index in the control array Label2 (control Label2_<n>).
enum class MenuItem {
  Menu = 0, // " Menu ": opens the panel
  ShowLog = 1,
  SubmitLog = 2, // disabled
  SubmitResults = 3,
  Configure = 4,
  Quit = 5,
  Hatching = 6,
  Help = 7,
  FcTest = 8,
};
