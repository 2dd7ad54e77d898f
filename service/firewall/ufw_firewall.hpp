// ufw, asked through its command: the exception is the application profile "Quorvex Plexmill"
// allowed; ports get rules with the product's names as comments. ufw keeps every change in its
// rule files and in the running firewall at once.
#pragma once

#include "service/firewall/firewall.hpp"
#include "service/firewall/ufw_status.hpp"

#include <optional>
#include <string>

namespace plexmill::firewall {

class UfwFirewall : public Firewall {
public:
    // `status`: what `ufw status verbose` said when ufw was found active.
    explicit UfwFirewall(UfwStatus status);

    bool isEnabled() override { return true; }
    bool isApplicationAuthorized() override;
    bool authorizeApplication() override;
    bool isPortOpen(const Port& port) override;
    bool openPort(const Port& port, const std::string& name) override;

private:
    const UfwStatus& status();
    bool change(const std::vector<std::string>& arguments);

    std::optional<UfwStatus> status_;
};

// ufw's folder of application profiles: /etc/ufw/applications.d.
std::string ufwApplicationsFolder();

} // namespace plexmill::firewall
