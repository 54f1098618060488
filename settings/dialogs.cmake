# The movie properties dialog, its sub-dialogs and the area selection.
add_library(torvane_settings_ui STATIC
  DlgControls.cpp
  DlgUpDownCtrl.cpp
  DlgColorButton.cpp
  CCursorSettingDlg.cpp
  CScreenCapSettingDlg.cpp
  CWatermarkSettingDlg.cpp
  CWebcamSettingDlg.cpp
  CPipSettingDlg.cpp
  CSelectRegionDlg.cpp
  CNewCaptureDlg.cpp
)
target_link_libraries(torvane_settings_ui PUBLIC torvane_settings torvane_platform_screen torvane_platform_ui torvane_platform_x11 torvane_audio torvane_webcam Qt6::Widgets)
