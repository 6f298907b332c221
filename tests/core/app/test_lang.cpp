#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/UnitLang.h"

using namespace tachora;

namespace {
// Every key the program looks up, in the order the table files keep them.
const std::vector<std::string> kKeys = {
    "LangCharSet",
    "LangCodePage",
    "LangSystemID",
    "LangID",
    "LangName",
    "Cancel",
    "Kb",
    "Mb",
    "Gb",
    "byte",
    "Mbytepsec",
    "Size",
    "disk_free",
    "Video",
    "Audio",
    "MetaInfo",
    "Name",
    "File",
    "Grouped",
    "Locked",
    "Locked_true",
    "Locked_partial",
    "Speed",
    "AvgSpeed",
    "Remains",
    "Pause",
    "Volume",
    "PlaySpeed",
    "DateTime",
    "Time",
    "SystemTime",
    "VideoTime",
    "TimeLapse",
    "Started",
    "Finished",
    "Duration",
    "PlayLength",
    "today",
    "yesterday",
    "Points",
    "Longitude",
    "Latitude",
    "Azimut",
    "Meters",
    "Kmeters",
    "KmetersPerH",
    "Miles",
    "MilesPerH",
    "Feet",
    "FileList_Track_Length",
    "FileFullPath",
    "Initializing",
    "Searching",
    "Preview",
    "PictureSize",
    "Kind",
    "Kind_Normal",
    "Kind_Event",
    "Kind_Parking",
    "Events",
    "Channels",
    "GEvent",
    "GEvent_g",
    "Copying_Title",
    "SelectFolderFor",
    "SelectFolder",
    "OpenFolder",
    "Show",
    "CreateFolder",
    "NewFolder",
    "Cropping_Title",
    "Cropping_BtnStart",
    "Cropping_Open",
    "Cropping_Copping",
    "Cropping_MetaInfo",
    "Cropping_Finish",
    "Cropping_Info",
    "Grouping_Title",
    "Grouping_Btn",
    "Details_Track_Length",
    "Property_Title",
    "Property_Track_Length",
    "Property_CopyAll",
    "Property_Embedded",
    "Property_TelemetryUnreadable",
    "Property_Damaged",
    "Property_Damaged_Text",
    "Property_Channel",
    "Property_ChannelNote",
    "Property_ChannelMissing",
    "Property_ChannelLength",
    "Repair_Title",
    "Repair_File",
    "Repair_Reference",
    "Repair_Output",
    "Repair_Browse",
    "Repair_Searching",
    "Repair_NoReference",
    "Repair_Start",
    "Repair_Close",
    "Repair_Working",
    "Repair_Replace",
    "Repair_Done",
    "Repair_Err_BrokenUnreadable",
    "Repair_Err_NotDamaged",
    "Repair_Err_NoMediaData",
    "Repair_Err_ReferenceUnreadable",
    "Repair_Err_ReferenceUnsupported",
    "Repair_Err_PictureDiffers",
    "Repair_Err_DataDoesNotMatch",
    "Repair_Err_WriteFailed",
    "Repair_Err_Cancelled",
    "GPSLog_Title",
    "GPSLog_Convert",
    "GPSLog_SelectAll",
    "GPSLog_ShowTrack",
    "GPSLog_SelectToProcess",
    "Update_Title",
    "Update_NewVersion",
    "Update_WantDownload",
    "Update_Btn_Auto",
    "Update_Btn_Browser",
    "SetupDevice_Title",
    "SetupDevice_Device",
    "SetupDevice_OtherSize",
    "SetupDevice_EnterOther",
    "SetupDevice_TimeZone",
    "SetupDevice_GSensor",
    "SetupDevice_BtnWrite",
    "SetupDevice_NoConfig",
    "SendMail",
    "MakeDonate",
    "VisitSite",
    "MyCity",
    "MyName",
    "N_File",
    "N_File_Open",
    "N_File_OpenFolder",
    "N_File_Recent",
    "N_File_Recent_Clear",
    "N_File_Convert_GPS",
    "N_File_Save_Video",
    "N_File_Exit",
    "N_SetupDevice",
    "N_Settings_Clear",
    "N_View",
    "N_View_FileList",
    "N_View_GoogleMaps",
    "N_View_ControlPanel",
    "N_View_Details",
    "N_View_Show",
    "N_View_Show_All",
    "N_View_Show_Events",
    "N_View_Show_Parking",
    "N_View_Show_Normal",
    "N_View_Sensitivity",
    "N_View_Sensitivity_High",
    "N_View_Sensitivity_Normal",
    "N_View_Sensitivity_Low",
    "N_View_Units",
    "N_View_Units_Metric",
    "N_View_Units_Imperial",
    "N_View_Graphics",
    "N_View_Graphics_S",
    "N_View_Graphics_H",
    "N_View_Graphics_G",
    "N_View_Graphics_X",
    "N_View_Graphics_Y",
    "N_View_Graphics_Z",
    "N_View_Graphics_Show",
    "N_View_Graphics_Hide",
    "N_View_Time",
    "N_View_Time_ZoomIn",
    "N_View_Time_ZoomOut",
    "N_View_Time_SetA",
    "N_View_Time_SetB",
    "N_View_Time_LoopAB",
    "N_View_Time_LoopABHint",
    "N_View_Refresh",
    "N_View_Refresh_Fast",
    "N_View_Refresh_Norm",
    "N_View_Refresh_Slow",
    "N_View_Arrow",
    "N_View_Arrow_Small",
    "N_View_Arrow_Normal",
    "N_View_Arrow_Big",
    "N_View_TimePoints",
    "N_View_TimePoints_1m",
    "N_View_TimePoints_5m",
    "N_View_TimePoints_20m",
    "N_View_TimePoints_Never",
    "N_View_Language",
    "N_Playback",
    "N_Playback_Play",
    "N_Playback_Stop",
    "N_FullScreen",
    "N_Playback_PauseOnClick",
    "N_Playback_Left",
    "N_Playback_Right",
    "N_Playback_Frame_Prev",
    "N_Playback_Frame_Next",
    "N_Playback_Event_Prev",
    "N_Playback_Event_Next",
    "N_Playback_Save_Frame",
    "N_Playback_Save_Wind",
    "N_Playback_Renderer",
    "N_Playback_Renderer_nul",
    "N_Playback_Renderer_WMR",
    "N_Playback_Renderer_EVR",
    "EVROnly",
    "VMROnly",
    "N_Playback_Cameras",
    "N_Playback_Cameras_PiP",
    "N_Playback_Cameras_Side",
    "N_Playback_Cameras_Main",
    "N_Playback_Cameras_Swap",
    "Camera_Front",
    "Camera_Rear",
    "Camera_Interior",
    "Camera_Other",
    "Camera_NoRecording",
    "Camera_CannotOpen",
    "Camera_InsetHint",
    "N_VideoZoom",
    "N_VideoZoom_Custom",
    "N_VideoZoom_Letterbox",
    "N_VideoZoom_PanAndScan",
    "N_VideoZoom_Stretch",
    "N_VideoZoom_NotLinear",
    "N_VideoZoom_ZoomIn",
    "N_VideoZoom_ZoomOut",
    "N_VideoZoom_Other",
    "N_VideoZoom_FlipV",
    "N_VideoZoom_FlipH",
    "N_Help",
    "N_Help_About",
    "N_Help_WhatsNew",
    "N_FileList_Open",
    "N_FileList_Add",
    "N_FileList_Del",
    "N_FileList_Refresh",
    "N_FileList_Clear",
    "N_FileList_Copy",
    "N_FileList_DelDisk",
    "N_FileList_DelDiskAll",
    "N_FileList_DelDiskLogs",
    "N_FileList_SetLock",
    "N_FileList_UnsetLock",
    "N_FileList_Group_With",
    "N_FileList_Ungroup",
    "N_FileList_Group_Auto",
    "N_FileList_Ungroup_All",
    "N_FileList_Track_Google",
    "N_FileList_Track_Export",
    "N_FileList_Track_Set",
    "N_FileList_Track_Move",
    "N_FileList_Track_GPSLog",
    "N_FileList_ShowExplorer",
    "N_FileList_Property",
    "N_FileList_Repair",
    "Mes_CardFound",
    "N_Card_Open",
    "N_Card_Dismiss",
    "Mes_CannotOpen_Video",
    "Mes_CannotOpen_Splitter",
    "Mes_CannotOpen_Codec",
    "Mes_NoWayToBack",
    "Mes_SureToDelFile",
    "Mes_SureToDelAllFiles",
    "Mes_SureToDelAllFiles2",
    "Mes_SureToDelAllGPSLogs",
    "Mes_SureToDelFiles",
    "Mes_CannotDelete",
    "Mes_FilesExist",
    "Mes_SureToReplaceThem",
    "Mes_NoGPSInfo",
    "Mes_CustomZoomTitle",
    "Mes_CustomZoomText",
    "Mes_FileExists",
    "Mes_SureToReplace",
    "Mes_ClearSettings",
    "Mes_EVR_Screenshot",
    "Mes_CannotOpen_Lost",
    "About_Libraries",
    "About_Licence",
    "SaveFrame_Filter",
    "Mes_SaveFrameError",
    "Cropping_MetaDetail",
    "Cropping_FilterMov",
    "Cropping_FilterAny",
    "Mes_CutFailed",
    "Mes_CutNotes",
    "Cut_NoOutput",
    "Cut_EmptySelection",
    "Cut_NoTrackChosen",
    "Cut_ReplacesSource",
    "Cut_NothingReadable",
    "Cut_NoTrackToCopy",
    "Cut_CannotCreate",
    "Cut_CannotWrite",
    "Cut_SourceChanged",
    "Cut_WouldReplace",
    "Cut_Note_Unreadable",
    "Cut_Note_VideoLeftOut",
    "Cut_Note_SoundLeftOut",
    "Cut_Note_SoundAfterGap",
    "Cut_Note_CopyFailed",
    "Cut_Note_MetaFailed",
    "Cut_Note_MetaNotWritten",
    "Cut_ChannelCancelled",
    "Cut_ChannelPartial",
    "Export_Button",
    "Export_Title",
    "Export_Layout",
    "Export_Layout_Pip",
    "Export_Layout_Side",
    "Export_Layout_Main",
    "Export_Overlay",
    "Export_Overlay_Time",
    "Export_Overlay_Speed",
    "Export_Overlay_Position",
    "Export_Overlay_GSensor",
    "Export_FilterMp4",
    "Export_Start",
    "Export_Remaining",
    "Export_Cancelling",
    "Export_Saved",
    "Export_Notes",
    "Export_Failed",
    "Export_EmptySelection",
    "Export_ReplacesSource",
    "Export_NothingReadable",
    "Export_NoEncoder",
    "Export_Note_Unreadable",
    "Export_Note_ChannelMissing",
    "Export_Note_ChannelShorter",
    "Export_Note_NoSound",
    "Export_Note_DecodeErrors",
    "SetupDevice_FrameSize",
    "SetupDevice_TooShort",
    "SetupDevice_WriteError",
    "Update_NotVerifiable",
    "Update_Failed",
    "Update_NotTrusted",
    "GPSLog_Error",
    "GPSLog_NoTelemetry",
    "Track_SaveError",
    "Track_NoViewer",
    "SetupDevice_NoDrives",
    "Map_Tiles",
    "Map_Tiles_OSM",
    "Map_Tiles_Folder",
    "Map_Tiles_MBTiles",
    "Map_Tiles_Url",
    "Map_Tiles_UrlPrompt",
    "Map_Tiles_Filter",
    "Mes_MapTilesBadUrl",
    "Mes_MapTilesBadFile",
    "Mes_CopyVerifyFailed",
    "Copy_Verify",
    "Copy_Verifying",
    "SelectFolder_Ok",
    "SelectFolder_Add",
    "Grouping_Preview",
};

std::vector<std::string> KeysOf(const TLang &l) {
  std::vector<std::string> keys;
  for (const auto &e : l.Entries) keys.push_back(e.first);
  return keys;
}

std::vector<std::string> Lower(std::vector<std::string> v) {
  for (auto &s : v)
    for (auto &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return v;
}
}  // namespace

TEST(LangFiles, BothTablesHoldEveryKeyInOrderWithCrLf) {
  ASSERT_EQ(kKeys.size(), 364u);
  for (int i = 0; i < 2; ++i) {
    const std::string_view raw = EmbeddedLanguageFile(i);
    const TLang lang(raw);
    EXPECT_EQ(KeysOf(lang), Lower(kKeys)) << "table " << i;
    for (const auto &e : lang.Entries) EXPECT_FALSE(e.second.empty()) << e.first;
    // Every line ends in CR LF.
    for (size_t p = raw.find('\n'); p != std::string_view::npos; p = raw.find('\n', p + 1))
      ASSERT_TRUE(p > 0 && raw[p - 1] == '\r') << "table " << i << " at byte " << p;
  }
  const TLang en(EmbeddedLanguageFile(0)), ru(EmbeddedLanguageFile(1));
  EXPECT_EQ(en.ID, "en");
  EXPECT_EQ(en.Name, "English");
  EXPECT_EQ(en.SystemID, 0);
  EXPECT_EQ(ru.ID, "ru");
  EXPECT_EQ(ru.SystemID, 1049);
  EXPECT_EQ(ru.CharSet, 204);
  EXPECT_EQ(ru.CodePage, 1251);
  // The Russian table is a translation, not a copy.
  int same = 0;
  for (size_t i = 5; i < en.Entries.size(); ++i)
    same += en.Entries[i].second == ru.Entries[i].second;
  EXPECT_LT(same, 15);
}

TEST(LangFiles, MessagesKeepTheirEnglishTexts) {
  const TLang en(EmbeddedLanguageFile(0));
  EXPECT_EQ(en.Lookup("Mes_CannotOpen_Splitter"), "Splitter not found");
  EXPECT_EQ(en.Lookup("Mes_SureToDelAllFiles"), "Are you sure to full delete all unlocked files");
  EXPECT_EQ(en.Lookup("Mes_ClearSettings"), "Are you sure to reset all application settings");
  EXPECT_EQ(en.Lookup("Kmeters"), "km");
  EXPECT_EQ(en.Lookup("Property_CopyAll"), "Copy All to Clipboard");
  // Four lines joined by CR LF.
  const std::string evr = en.Lookup("Mes_EVR_Screenshot");
  size_t breaks = 0;
  for (size_t p = evr.find("\r\n"); p != std::string::npos; p = evr.find("\r\n", p + 2)) ++breaks;
  EXPECT_EQ(breaks, 3u);
}

TEST(LangParse, LinesQuotesBreaksAndBom) {
  const std::string text =
      "\xEF\xBB\xBF"
      "LangCharSet \"7\"\r\n"
      "LangCodePage\tnotanumber\r\n"
      "\r\n"
      "OnlyAKey\r\n"
      "Two\t\"first\\nsecond\"\r\n"
      "Bare   text without quotes  \r\n"
      "Odd \"unterminated\n"
      "Two \"again\"\r\n";
  const TLang l(text);
  EXPECT_EQ(l.CharSet, 7);
  EXPECT_EQ(l.CodePage, 0);  // not a number counts as 0
  EXPECT_EQ(l.Lookup("onlyakey"), "");
  EXPECT_EQ(l.Lookup("TWO"), "first\r\nsecond");  // first entry wins
  EXPECT_EQ(l.Lookup("bare"), "text without quotes");
  EXPECT_EQ(l.Lookup("odd"), "unterminate");  // the last character goes whatever it is
  ASSERT_FALSE(l.Entries.empty());
  EXPECT_EQ(l.Entries[0].first, "langcharset");  // the BOM is not part of the first key
  EXPECT_EQ(l.Entries.size(), 6u);
}

TEST(LangText, CurrentTableThenEnglishThenKey) {
  InitLanguages(1049);
  EXPECT_EQ(CurrentLanguage(), 1);
  EXPECT_EQ(LangText("today"), LangText("TODAY"));
  EXPECT_NE(LangText("today"), "today");  // Russian text
  EXPECT_EQ(LangText("No_Such_Key_Anywhere"), "No_Such_Key_Anywhere");
  InitLanguages(1033);
  EXPECT_EQ(CurrentLanguage(), 0);
  EXPECT_EQ(LangText("TODAY"), "today");
  SetCurrentLanguage(1);
  EXPECT_EQ(CurrentLanguage(), 1);
  SetCurrentLanguage(7);  // out of range: unchanged
  EXPECT_EQ(CurrentLanguage(), 1);
  SetCurrentLanguage(0);
}

TEST(LangText, FallsBackToEnglishForKeysMissingInRussian) {
  std::vector<TLang> langs;
  langs.emplace_back("LangID \"en\"\r\nOnlyEnglish \"english text\"\r\nBoth \"both en\"\r\n");
  langs.emplace_back("LangID \"ru\"\r\nBoth \"both ru\"\r\n");
  SetLanguages(langs, 1);
  EXPECT_EQ(LangText("OnlyEnglish"), "english text");
  EXPECT_EQ(LangText("both"), "both ru");
  EXPECT_EQ(LangText("Neither"), "Neither");
  SetLanguages({TLang(), langs[1]}, 1);  // a missing English table
  EXPECT_EQ(LangText("OnlyEnglish"), "OnlyEnglish");
  InitLanguages(0);
}

TEST(LangSystem, LocaleNamesMapOntoLanguageIds) {
  EXPECT_EQ(LanguageIdFromLocale("ru_RU.UTF-8"), 1049);
  EXPECT_EQ(LanguageIdFromLocale("ru"), 1049);
  EXPECT_EQ(LanguageIdFromLocale("en_GB.UTF-8"), 1033);
  EXPECT_EQ(LanguageIdFromLocale("C"), 0);
  EXPECT_EQ(LanguageIdFromLocale("C.UTF-8"), 0);
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  EXPECT_EQ(SystemLanguageId(), 1049);
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  InitLanguages(SystemLanguageId());
  EXPECT_EQ(CurrentLanguage(), 0);
  unsetenv("LC_ALL");
}
