#include "trainer/Handler.h"

Handler::~Handler() {
  for (auto& entry : trainers) {
    delete entry.second;
  }
}

void Handler::OnRead(MaruvelHID::Device* device, const MaruvelHID::InputReport* report) {
  if (report->length == 0) {
    return;
  }
  GetTrainer(device)->OnReport(report);
}

DeviceTrainer* Handler::GetTrainer(MaruvelHID::Device* device) {
  auto found = trainers.find(device);
  if (found != trainers.end()) {
    return found->second;
  }
  auto* trainer = new DeviceTrainer(device);
  trainers.emplace(device, trainer);
  return trainer;
}
