#include "msgtable.h"

#include <algorithm>
#include <iterator>

namespace vant {
namespace {

struct Entry {
  int id;
  const char* text;
};

// Texts as the library has always shipped them, misspellings included: callers and users
// compare against them.
constexpr Entry kEntries[] = {
    {28001, "Open Wave File"},
    {28002, "Save Wave File"},
    {28003, "Select Wave File..."},
    {28004, "Wave Files(*.wav)|*.wav"},
    {28005, "Invalid WaveFile..."},
    {28006, "Unknown"},
    {28007, "Preview"},
    {28008, "Open Picture File"},
    {28009, "Save Picture File"},
    {28010, "Open AVI File"},
    {28011, "Save AVI File"},
    {28012, "Select AVI File..."},
    {28013, "AVI Files(*.avi)|*.avi|Wave-Files(*.wav)|*.wav"},
    {28020, "Select..."},
    {28021,
     "The Audio Compression Manager (ACM) is not installed on this system. Most features of this "
     "application will not be available."},
    {28022,
     "This application requires Version 2.00 or greater of the Audio Compression Manager (ACM). "
     "The version installed on this system is Version %u.%.02u. Most features of this application "
     "will not be available."},
    {28023, "This format is not valid for conversion"},
    {28024, "Unable to convert wave file"},
    {28025, "Conversion aborted!"},
    {28030, "No Disc"},
    {28031, "New Artist"},
    {28032, "New Title"},
    {28033, "Track"},
    {28040, "Unable to load"},
    {28050, "No DirectSound playing devices found"},
    {28051, "Directsound is currently only supported under Windows 95 and NT 4.0"},
    {28060, "Change to property while device was open"},
    {28061, "Invalid DeviceID"},
    {28062, "Invalid WaveFormat"},
    {28063, "This is not a MemoryWave"},
    {28064, "Unable to allocate memory for wave header"},
    {28065, "Unable to free header memory"},
    {28066, "Unable to get device position"},
    {28067, "Unable to prepare waveheader"},
    {28068, "Unable to unprepare waveheaders"},
    {28069, "Unable to write to device"},
    {28070, "The actual device can't play this format"},
    {28071, "Unable to open device"},
    {28072, "Unable to close device"},
    {28073, "Unable to create primary buffer"},
    {28074, "Unable to set volume"},
    {28075, "Unable to set pan"},
    {28076, "Unable to set playbackrate"},
    {28077, "Unable to reset device"},
    {28078, "Unable to pause device"},
    {28079, "Unabele to restart device"},
    {28080, "Unable to start device"},
    {28081, "Error filling wave buffer"},
    {28082, "Select Filename"},
    {28083, "No joystick device found"},
    {28084, "This function is not supported under Windows NT"},
    {28085, "Audio Properties"},
    {28086, "Specified error number is out of range (unknown error)"},
    {28087, "The actual device can't record this format"},
    {28088, "Could not create thread"},
    {28089, "Invalid wave format"},
    {28090, "Unable to reset device"},
    {28100, "Unable to set MaxFiles while FastFile is open"},
    {28101, "Not a FastFile"},
    {28102, "FastFile not initialized"},
    {28103, "Invalid Index "},
    {28104, "Invalid Filename"},
    {28105, "Could not create \"%s\""},
    {28106, "Error writing file"},
    {28107, "FastFile directory full"},
    {28108, "Duplicate Filename"},
    {28109, "Error opening file"},
    {28110, "Error reading file"},
    {28111, "File \"%s\" not found"},
    {28112, "Invalid Path"},
    {28113, "Could not create temporary file"},
    {28114, "Error packing FastFile"},
    {28115, "Out of file handles"},
    {28116, "Invalid Handle"},
    {28117, "Read past end of file"},
    {28118, "Invalid Offset"},
    {28119, "Invalid origin field"},
    {28120, "Files larger than 4gig not supported"},
    {28121, "Map offset beyond the end of file"},
    {28122, "Map size exceeds file size"},
    {28123, "Invalid map offset"},
    {28124, "Invalid map size"},
    {28130, "Error reading wave file"},
    {28131, "Can't write to MemoryWave"},
    {28132, "InfoChunk %s not found"},
    {28133, "Invalid wave file..."},
    {28134, "Invalid param passed!"},
    {28135, "Unable to import wave file"},
    {28136, "Import aborted"},
    {28137, "Unable to setup file IO buffer"},
    {28138, "Unable to open wave file"},
    {28139, "Unable to create wave file"},
    {28140, "Unable to save wave file"},
    {28141, "Saving was aborted"},
    {28142, "Unable to convert wave file"},
    {28143, "Conversion aborted"},
    {28144, "This wave file is not valid for conversion"},
    {28145, "Unable to set start position"},
    {28146, "Unable to set end position"},
    {28147, "Error seeking file position"},
    {28148, "Can't write to file, disk full ?"},
    {28160, "No wave audio recording device found"},
    {28161, "No wave audio playing device found"},
    {28162, "Unable to open device"},
    {28163, "Unable to close device"},
    {28170, "Select Mpeg File..."},
    {28171, "Select Audio File..."},
    {28172, "Select WMA File..."},
    {28190, "Play/Pause"},
    {28191, "Stop"},
    {28192, "Rewind"},
    {28193, "Back"},
    {28194, "Step"},
    {28195, "Forward"},
    {28196, "Position"},
};

}  // namespace

const char* LibraryMessage(int id) {
  auto it = std::lower_bound(std::begin(kEntries), std::end(kEntries), id,
                             [](const Entry& e, int v) { return e.id < v; });
  return (it != std::end(kEntries) && it->id == id) ? it->text : "";
}

std::vector<int> LibraryMessageIds() {
  std::vector<int> ids;
  for (const Entry& e : kEntries) ids.push_back(e.id);
  return ids;
}

}  // namespace vant
