#include "line/port.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/text.h"
#include "serial/posix/uucp_lock.h"

namespace fs = std::filesystem;

namespace roderavo::tool {

namespace {

std::string DevicePathOf(const std::string& name) {
    if (name == "NUL") return "/dev/null";
    return name.starts_with("/") ? name : "/dev/" + name;
}

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool HasUart(const std::string& ttyName) {
    // The serial core shows the UART type; 0 means no hardware behind the port.
    const std::string type = ReadFirstLine(fs::path("/sys/class/tty") / ttyName / "type");
    return !type.empty() && type != "0";
}

// The name of a running process, as "pid 1234 (minicom)".
std::string ProcessText(const std::string& pid) {
    const std::string comm = ReadFirstLine(fs::path("/proc") / pid / "comm");
    return "pid " + pid + (comm.empty() ? "" : " (" + comm + ")");
}

// The name of a user, or its number.
std::string UserName(uid_t uid) {
    const struct passwd* user = getpwuid(uid);
    return user != nullptr ? user->pw_name : "user " + std::to_string(uid);
}

// Why this user may not remove the lock file; empty when it may.
std::string WhyNotRemovable(const std::string& lockPath) {
    const std::string folder = fs::path(lockPath).parent_path().string();
    struct stat dir {};
    struct stat file {};
    if (stat(folder.c_str(), &dir) != 0 || lstat(lockPath.c_str(), &file) != 0) return {};
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "this user may not write in the lock folder " + folder;
    const uid_t us = geteuid();
    if ((dir.st_mode & S_ISVTX) != 0 && us != 0 && file.st_uid != us && dir.st_uid != us)
        return "the lock folder " + folder + " is sticky, and the file is " +
               UserName(file.st_uid) + "'s";
    return {};
}

// A stale lock file that this user may not remove (a program of root's that ended
// left it in the sticky lock folder) keeps the device from this user until someone
// who may removes it; one that it may remove the driver (and the tap) removes.
std::string StaleLockKept(const std::string& devicePath) {
    posix::LockPath lock{};
    if (!posix::LockPathFor(devicePath.c_str(), lock)) return {};
    const long owner = posix::LockOwner(lock);
    if (owner <= 0 || posix::Running(owner)) return {};
    const std::string path = lock.data();
    const std::string why = WhyNotRemovable(path);
    if (why.empty()) return {};
    return devicePath + " is free, but its lock file " + path + " names pid " +
           std::to_string(owner) + ", which has ended, and this user may not remove it (" + why +
           "); remove it with  sudo rm " + path;
}

// The running process that a UUCP lock file of the device names, as "pid 1234
// (minicom)", with the lock file; empty when none. The lock file and its reading are
// the driver's own (serial/posix/uucp_lock.h): the same name (the real path below
// /dev/ with "/" as "_": LCK..ttyUSB0, LCK..pts_3), the same owner, no link followed.
std::string LockHolder(const std::string& devicePath) {
    posix::LockPath lock{};
    if (!posix::LockPathFor(devicePath.c_str(), lock)) return {};
    const long owner = posix::LockOwner(lock);
    const std::string path = lock.data();
    if (owner < 0) return {};
    if (owner == 0) return "its lock file " + path + " names no process";
    if (!posix::Running(owner)) return {};  // stale: see StaleLockKept
    return "it is locked by " + ProcessText(std::to_string(owner)) + " (lock file " + path + ")";
}

// The number of a pseudo-terminal's slave device (Linux numbers them on majors
// 136..143), or -1.
int PtyIndex(dev_t device) {
    const unsigned number = major(device);
    if (number < 136 || number > 143) return -1;
    return static_cast<int>((number - 136) * 256 + minor(device));
}

// The master side of every pseudo-terminal is opened through /dev/ptmx (5, 2).
const dev_t kPtyMultiplexer = makedev(5, 2);

// Whether the descriptor (of /dev/ptmx) is the master of the pseudo-terminal with
// that number.
bool IsMasterOf(const fs::path& fdinfo, int index) {
    std::ifstream in(fdinfo);
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with("tty-index:")) return std::atoi(line.c_str() + 10) == index;
    return false;
}

struct Holders {
    std::vector<std::string> users;     // have the device open
    std::vector<std::string> otherEnd;  // of a pty: hold its master, perhaps the slave too
};

// The processes that have the device open, this one's own look at it aside; of a
// pseudo-terminal, those on its other end (a simulator, a virtual port: they hold the
// master, and may keep the slave open as well) apart.
Holders FindHolders(const std::string& devicePath) {
    Holders holders;
    struct stat device {};
    if (stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return holders;
    const int ptyIndex = PtyIndex(device.st_rdev);
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
        if (std::stol(pid) == static_cast<long>(getpid())) continue;
        bool uses = false;
        bool master = false;
        std::error_code ec2;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec2)) {
            struct stat st {};
            if (stat(fd.path().c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
            if (st.st_rdev == device.st_rdev) uses = true;
            if (ptyIndex >= 0 && !master && st.st_rdev == kPtyMultiplexer &&
                IsMasterOf(proc.path() / "fdinfo" / fd.path().filename(), ptyIndex))
                master = true;
        }
        if (master)
            holders.otherEnd.push_back(ProcessText(pid));
        else if (uses)
            holders.users.push_back(ProcessText(pid));
    }
    return holders;
}

// Who keeps the device from us, after "held ... by": the programs that use it; the
// program on a pseudo-terminal's other end only when no other is there, as it may
// not be the one (the simulator keeps its slave open, and a program that has ended
// may have left the device in exclusive mode).
std::string HeldBy(const std::string& how, const std::string& devicePath, bool exclusive) {
    const Holders holders = FindHolders(devicePath);
    if (!holders.users.empty()) return "it is held" + how + " by " + Join(holders.users, ", ");
    if (!holders.otherEnd.empty())
        return "it is held" + how + " by " + Join(holders.otherEnd, ", ") +
               ", which serves its other end" +
               (exclusive ? ", or was left so by a program that has ended" : "");
    return "another program holds it" + how;
}

// The processes that hold the device's flock, as /proc/locks names them.
std::vector<std::string> FlockHolders(const std::string& devicePath) {
    std::vector<std::string> holders;
    struct stat st {};
    if (stat(devicePath.c_str(), &st) != 0) return holders;
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, where;
        words >> number >> kind >> mode >> access >> pid >> where;
        if (kind == "FLOCK" && where == file && pid != std::to_string(getpid()))
            holders.push_back(ProcessText(pid));
    }
    return holders;
}

// What a path is, for a user who gave something else than a serial device.
std::string KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return "a regular file";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISBLK(st.st_mode)) return "a block device";
    return "not a character device";
}

std::string NotADevice(const std::string& path, const struct stat& st) {
    return path + " is " + KindOf(st) +
           ", not a serial device; give the device (ttyUSB0, ttyS1, pts/3)";
}

}  // namespace

ResolvedPort ResolvePortName(const std::string& name) {
    ResolvedPort port;
    if (name.empty()) {
        port.error = "the port name is empty";
        return port;
    }
    port.devicePath = DevicePathOf(name);
    std::error_code ec;
    const bool isLink = fs::is_symlink(port.devicePath, ec);
    if (name.size() <= kMaxPortName && !isLink) {
        port.driverName = name;
        return port;
    }
    const fs::path target = fs::canonical(port.devicePath, ec);
    if (ec) {
        if (name.size() <= kMaxPortName) {
            port.driverName = name;  // a dangling link: the open will say why
            return port;
        }
        port.error = "there is no device " + port.devicePath;
        return port;
    }
    const std::string resolved = target.string();
    port.devicePath = resolved;
    struct stat st {};
    if (stat(resolved.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
        port.error = NotADevice(resolved, st);
        return port;
    }
    if (resolved.starts_with("/dev/") && resolved.size() - 5 <= kMaxPortName) {
        port.driverName = resolved.substr(5);
    } else if (resolved.size() <= kMaxPortName) {
        port.driverName = resolved;
    } else if (name.size() <= kMaxPortName) {
        port.driverName = name;
    } else {
        port.error = "the port " + name + " is the device " + resolved +
                     ", whose name is longer than the 11 characters the driver takes; make a "
                     "shorter link to it (e.g. ln -s " +
                     resolved + " /dev/ttyMUX) and give that";
    }
    return port;
}

// Permission denied: a group that may use the device is the way in; a device that
// no group may use (or only root's) needs a udev rule, not membership of root.
std::string PermissionAdvice(const std::string& path, unsigned mode, unsigned uid, unsigned gid) {
    const struct group* owner = getgrgid(gid);
    const std::string group = owner != nullptr ? owner->gr_name : std::to_string(gid);
    const bool groupMayUse = (mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (groupMayUse && gid != 0)
        return "permission denied on " + path + " (group " + group +
               "): add your user to that group with  sudo usermod -aG " + group +
               " $USER  and log in again";
    char bits[8];
    std::snprintf(bits, sizeof bits, "%04o", mode & 07777u);
    const std::string name = path.starts_with("/dev/") ? path.substr(5) : path;
    return "permission denied on " + path + " (owner " + std::to_string(uid) + ", group " + group +
           ", mode " + bits +
           "): no group other than root's may use it; give it to the dialout group with a udev "
           "rule, e.g. the line  SUBSYSTEM==\"tty\", KERNEL==\"" +
           name +
           "\", GROUP=\"dialout\", MODE=\"0660\"  in /etc/udev/rules.d/99-serial.rules, then "
           "sudo udevadm trigger, and add your user to dialout";
}

std::vector<std::string> ListSerialDevices() {
    std::vector<std::string> devices;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", ec)) {
        std::error_code ec2;
        const auto target = fs::canonical(entry.path(), ec2);
        devices.push_back(entry.path().string() + (ec2 ? "" : " -> " + target.string()));
    }
    std::vector<std::string> ttys;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string file = entry.path().filename().string();
        const bool adapter = file.starts_with("ttyUSB") || file.starts_with("ttyACM") ||
                             file.starts_with("ttyAMA") || file.starts_with("rfcomm");
        if (adapter || (file.starts_with("ttyS") && HasUart(file)))
            ttys.push_back(entry.path().string());
    }
    std::sort(ttys.begin(), ttys.end());
    devices.insert(devices.end(), ttys.begin(), ttys.end());
    return devices;
}

std::vector<std::string> DeviceHolders(const std::string& devicePath) {
    Holders holders = FindHolders(devicePath);
    holders.users.insert(holders.users.end(), holders.otherEnd.begin(), holders.otherEnd.end());
    return holders.users;
}

const int kNoSuchDevice = ENOENT;

std::string DiagnosePort(const std::string& devicePath, int error) {
    struct stat st {};
    const bool found = stat(devicePath.c_str(), &st) == 0;
    const int lookError = found ? 0 : errno;
    if (error == ENOENT || error == ENOTDIR || lookError == ENOENT || lookError == ENOTDIR) {
        const auto devices = ListSerialDevices();
        return "there is no device " + devicePath + "; " +
               (devices.empty()
                    ? std::string("no serial devices were found: check that the adapter is "
                                  "plugged in (dmesg shows it arriving)")
                    : "the serial devices here are:\n    " + Join(devices, "\n    "));
    }
    if (!found) return "cannot look at " + devicePath + ": " + std::strerror(lookError);
    if (!S_ISCHR(st.st_mode)) return NotADevice(devicePath, st);
    switch (error) {
        case 0:
        case EINVAL:
            return {};  // it opened, but would not take the line settings
        case EACCES:
        case EPERM:
            return PermissionAdvice(devicePath, st.st_mode, st.st_uid, st.st_gid);
        case EBUSY: {
            // A lock file, else the tty's exclusive mode (which a user's open meets as EBUSY).
            const std::string locked = LockHolder(devicePath);
            if (!locked.empty()) return devicePath + " is busy: " + locked;
            if (std::string kept = StaleLockKept(devicePath); !kept.empty()) return kept;
            std::string held = HeldBy(" in exclusive mode", devicePath, true);
            if (held.starts_with("another")) held += " (fuser -v " + devicePath + " tells which)";
            return devicePath + " is busy: " + held;
        }
        case EWOULDBLOCK: {
            const auto holders = FlockHolders(devicePath);
            return devicePath + " is busy: " +
                   (holders.empty() ? HeldBy("", devicePath, false)
                                    : "it is held by " + Join(holders, ", "));
        }
        case EIO:
            return devicePath +
                   " answers with an I/O error: nothing is on its other side (a pty whose "
                   "master is closed, or an adapter being removed)";
        case ENOTTY:
            return devicePath + " is not a serial device (no line settings)";
        default:
            return "cannot open " + devicePath + ": " + std::strerror(error);
    }
}

}  // namespace roderavo::tool
