#include "monitor/tray/tray_icons.hpp"

#include <QPixmap>
#include <map>
#include <string_view>

namespace plexmill::monitor {

namespace {

struct EmbeddedResource {
    std::string_view path; // "<state>/<size>"
    std::string_view bytes;
    std::string_view contentType;
};

#include "generated/tray_icon_data.inc"

std::string_view imageName(TrayIcon icon) {
    switch (icon) {
    case TrayIcon::kReady:
        return "ready";
    case TrayIcon::kNotResponding:
        return "not_responding";
    case TrayIcon::kRunning:
        return "running_a";
    case TrayIcon::kRunningAlternate:
        return "running_b";
    case TrayIcon::kNotAccepting:
        return "not_accepting_a";
    case TrayIcon::kNotAcceptingAlternate:
        return "not_accepting_b";
    case TrayIcon::kPaused:
        return "paused";
    case TrayIcon::kStopped:
        return "stopped";
    }
    return "stopped";
}

QIcon loadIcon(TrayIcon icon) {
    QIcon image;
    std::string prefix = std::string(imageName(icon)) + "/";
    for (const auto& resource : kEmbeddedResources) {
        if (resource.path.starts_with(prefix)) {
            QPixmap pixmap;
            pixmap.loadFromData(reinterpret_cast<const uchar*>(resource.bytes.data()),
                                static_cast<uint>(resource.bytes.size()),
                                "PNG");
            image.addPixmap(pixmap);
        }
    }
    return image;
}

} // namespace

const QIcon& trayIconImage(TrayIcon icon) {
    static const std::map<TrayIcon, QIcon> images = [] {
        std::map<TrayIcon, QIcon> loaded;
        for (auto each : {TrayIcon::kReady,
                          TrayIcon::kNotResponding,
                          TrayIcon::kRunning,
                          TrayIcon::kRunningAlternate,
                          TrayIcon::kNotAccepting,
                          TrayIcon::kNotAcceptingAlternate,
                          TrayIcon::kPaused,
                          TrayIcon::kStopped}) {
            loaded.emplace(each, loadIcon(each));
        }
        return loaded;
    }();
    return images.at(icon);
}

} // namespace plexmill::monitor
