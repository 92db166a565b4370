#include "MidiService.h"
#include "alsa/AlsaMidiService.h"

std::shared_ptr<MidiService> MidiService::platformDefault() {
    return std::make_shared<AlsaMidiService>();
}
