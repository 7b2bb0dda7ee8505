#pragma once

// Names that more than one place of the program must spell the same way.
namespace Trel {

inline constexpr char Organisation[] = "Quenlor";
inline constexpr char Application[] = "Trelvin";
inline constexpr char Version[] = TRELVIN_VERSION;
inline constexpr char WindowTitle[] = "Net Logging for Amateur Radio Clubs: Trelvin V" TRELVIN_VERSION;

// Settings groups.
namespace Group {
inline constexpr char Main[] = "Main";
inline constexpr char Station[] = "Station";
inline constexpr char Contact[] = "Contact";
inline constexpr char About[] = "About";
inline constexpr char Preamble[] = "Preamble";
inline constexpr char DateLog[] = "Trelvin";
inline constexpr char AllLog[] = "AllLog";
inline constexpr char Roster[] = "ArcLog";
inline constexpr char Contacts[] = "ConLog";
inline constexpr char Qso[] = "QsoLog";
inline constexpr char NetMap[] = "NetMap";
inline constexpr char Attendance[] = "Attendance";
} // namespace Group

// Settings keys.
namespace Key {
inline constexpr char Exist[] = "Exist";
inline constexpr char Visible[] = "Visible";
inline constexpr char Content[] = "Content";
inline constexpr char Size[] = "Size";
inline constexpr char Position[] = "Position";
inline constexpr char DataDirectory[] = "DataDirectory";
inline constexpr char StatusTips[] = "StatusTips";
inline constexpr char AutoUpdate[] = "AutoUpdate";
inline constexpr char Theme[] = "Theme";
inline constexpr char Club[] = "Club";
inline constexpr char QrzServer[] = "QrzServer";
inline constexpr char UpdateServer[] = "UpdateServer";
inline constexpr char IdReminder[] = "IdReminder";
// The start of the past net being entered, while it is; kept at once so
// that a net resumed after a crash goes on at its own times.
inline constexpr char PastNetStart[] = "PastNetStart";
inline constexpr char NetBand[] = "NetBand";
inline constexpr char NetMode[] = "NetMode";
inline constexpr char NetFrequency[] = "NetFrequency";
inline constexpr char HamQthServer[] = "HamQthServer";
inline constexpr char HamQthUser[] = "HamQthUser";
inline constexpr char HamQthPassword[] = "HamQthPassword";
// A libpq connection string; empty: no club server.
inline constexpr char ClubServer[] = "ClubServer";
} // namespace Key

// Status-bar notes last this long.
inline constexpr int StatusMessageMs = 15000;

inline constexpr char Yes[] = "Yes";
inline constexpr char No[] = "No";
inline constexpr char Normal[] = "Normal";

// Content identifiers of the document viewer.
namespace Content {
inline constexpr char License[] = "UseLicense";
inline constexpr char GetStarted[] = "GetStarted";
inline constexpr char Shortcuts[] = "Shortcuts";
inline constexpr char ChangeLog[] = "ChangeLog";
inline constexpr char Environment[] = "Environment";
inline constexpr char ErrorLog[] = "ErrorLog";
} // namespace Content

inline constexpr char ThemeDark[] = "dark";
inline constexpr char ThemeLight[] = "light";
inline constexpr char DefaultClub[] = "ARC";

// Files and directories.
inline constexpr char DataSubdir[] = "/Programs/Trelvin/Data";
inline constexpr char InfoSubdir[] = "/Programs/Trelvin/Info";
inline constexpr char ContactsDb[] = "Contacts.db";
inline constexpr char ErrorLogFile[] = "errorLog.txt";
inline constexpr char StateCentres[] = "State_Info.csv";
inline constexpr char StateOutlines[] = "US_States.txt";
inline constexpr char IconFile[] = "/Trelvin.png";

inline constexpr char MemoryConnection[] = "memory";
inline constexpr char FileConnection[] = "trelvin";

} // namespace Trel
