#ifndef DEVICEPATHS_H
#define DEVICEPATHS_H

// Every fixed path, process name and script the tool touches on the device, in one place.
// There is deliberately no way to redirect them: tests run the tool in a private root instead.
namespace DevicePaths {

// package directory listed in mode "up", and the FTP upload directory watched in every mode
inline constexpr char PackageDir[] = "/images";
inline constexpr char FtpDir[] = "/home/ftp";
inline constexpr char InstallerName[] = "iup.sh";
inline constexpr char PackagePattern[] = "*.tgz";

// watched core-dump directories
inline constexpr char VarLogCoreDumpDir[] = "/var/log/coredump";
inline constexpr char RootCoreDumpDir[] = "/home/root/coredump";
inline constexpr char QzCoreDumpDir[] = "/home/qz/coredump";

// devices of the Qel scale kind mount USB sticks below this directory
inline constexpr char QelMediaDir[] = "/media/qz";

// device node prefix and the mount prefix it maps to
inline constexpr char DevPrefix[] = "/dev";
inline constexpr char MediaPrefix[] = "/media";

// device scripts and commands
inline constexpr char SaveLogScript[] = "/Orvalen/opt/savelog.sh";
inline constexpr char LogCaptureScript[] = "/Orvalen/opt/logcapture.sh";
inline constexpr char RestartAppScript[] = "/Orvalen/bin/restartbhaven.sh";
inline constexpr char Shell[] = "/bin/bash";
inline constexpr char ProbeProgram[] = "killall";

// process names of the watched applications, probed in this order
inline constexpr char AppBrennhaven[] = "Brennhaven";
inline constexpr char AppMirelu[] = "Mirelu";
inline constexpr char AppConnmanApplet[] = "qconnman-applet";

// appearance and language
inline constexpr char FontFile[] = "/Orvalen/bin/"
                                   "qml/Mirelu2/"
                                   "fonts/NotoSansHans-Regular.ttf";
inline constexpr char LocaleFile[] = "/tmp/locale";
inline constexpr char StyleSheetResource[] = ":/facecolor.css";
inline constexpr char CatalogueTemplate[] = "%1/Tovrimax_%2";

// the X display the tool always uses
inline constexpr char Display[] = ":0.0";

} // namespace DevicePaths

#endif // DEVICEPATHS_H
