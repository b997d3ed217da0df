// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/registry.h"

#include <cstdlib>

#include <dirent.h>

#include <algorithm>

#include "platform/usb/sim_carrier.h"
#include "platform/usb/sim_directory.h"
#include "platform/usb/sysfs_registry.h"

namespace velto::usb {

RegistryOptions defaultRegistryOptions() {
  // VELTO_SYSFS_ROOT moves the kernel's view elsewhere (an empty directory hides the machine's
  // own cameras), so that tests of whole programs can never reach real hardware.
  const char* sysfs = std::getenv("VELTO_SYSFS_ROOT");
  return RegistryOptions{simulatedCameraDirectory().directory, sysfs != nullptr ? sysfs : "/sys"};
}

std::vector<Service> listServices(const RegistryOptions& options) {
  std::vector<Service> services;
  if (!options.simDirectory.empty()) services = listSimServices(options.simDirectory);
  if (!options.sysfsRoot.empty()) {
    std::vector<Service> real = SysfsRegistry(options.sysfsRoot).services();
    services.insert(services.end(), std::make_move_iterator(real.begin()), std::make_move_iterator(real.end()));
  }
  if (options.extra) {
    std::vector<Service> more = options.extra();
    services.insert(services.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  return services;
}

std::vector<Service> listSimServices(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (isSimSocketName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());

  std::vector<Service> services;
  for (const std::string& name : names) {
    const std::string path = directory + "/" + name;
    std::unique_ptr<SimCarrier> probe = SimCarrier::connect(path);
    if (probe == nullptr) continue;
    const simcam::DeviceInfo& info = probe->description();
    Service service;
    service.registryID = info.registryID;
    service.vendorID = info.vendorID;
    service.productID = info.productID;
    service.locationID = info.locationID;
    service.productName = info.productName;
    service.carrier = CarrierKind::sim;
    service.path = path;
    service.connect = [path, id = info.registryID]() -> Connection {
      std::unique_ptr<SimCarrier> carrier = SimCarrier::connect(path);
      if (carrier == nullptr || carrier->description().registryID != id) return Connection::failed(status::noDevice);
      return Connection(std::move(carrier));
    };
    services.push_back(std::move(service));
  }
  return services;
}

}  // namespace velto::usb
