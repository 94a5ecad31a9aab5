#pragma once
// What the converter's main window asks of the player window and its audio player:
// TMOPlayerLink drives the program's player window; TNoPlayer plays nothing (a window made
// without a player, as in tests of the file flows).
#include <cstdint>
#include <functional>
#include <string>

class TMMCustomLevel;
class TMOPlayer;

namespace orlune {

// The audio player's state bits that the main window reads.
enum PlayerStateBits : unsigned { kPlaying = 1, kPaused = 2 };

class TPlayerLink {
 public:
  virtual ~TPlayerLink() = default;

  // The player window.
  virtual void PlayFrom(int64_t ms) = 0;
  // Sets the seek bar to 4096 * x / range.
  virtual void ShowPosition(int x, int range) = 0;
  // Plays from the seek bar's position.
  virtual void SeekTo() = 0;
  using PositionCallback =
      std::function<void(const std::string& text, int64_t ms, double fraction)>;
  virtual void SetPositionCallback(int slot, PositionCallback cb) = 0;
  // Slot 1 or 2 of the player's level meters.
  virtual void ConnectLevel(int slot, TMMCustomLevel* level) = 0;

  // Its audio player.
  virtual void Stop() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  virtual unsigned GetState() const = 0;
  virtual void SetPlayLength(int64_t ms) = 0;
  virtual int64_t GetFileLength() const = 0;
  virtual void SetVolume(int volume) = 0;
  virtual int GetVolume() const = 0;
  virtual void SetFileName(const std::string& path) = 0;
};

// Plays nothing; keeps the volume so the bar and the stored setting agree.
class TNoPlayer : public TPlayerLink {
 public:
  void PlayFrom(int64_t) override {}
  void ShowPosition(int, int) override {}
  void SeekTo() override {}
  void SetPositionCallback(int, PositionCallback) override {}
  void ConnectLevel(int, TMMCustomLevel*) override {}
  void Stop() override {}
  void Pause() override {}
  void Restart() override {}
  unsigned GetState() const override { return 0; }
  void SetPlayLength(int64_t) override {}
  int64_t GetFileLength() const override { return 0; }
  void SetVolume(int volume) override { volume_ = volume; }
  int GetVolume() const override { return volume_; }
  void SetFileName(const std::string&) override {}

 private:
  int volume_ = 0;
};

// The player window and its audio player.
class TMOPlayerLink : public TPlayerLink {
 public:
  explicit TMOPlayerLink(TMOPlayer& player) : player_(player) {}
  void PlayFrom(int64_t ms) override;
  void ShowPosition(int x, int range) override;
  void SeekTo() override;
  void SetPositionCallback(int slot, PositionCallback cb) override;
  void ConnectLevel(int slot, TMMCustomLevel* level) override;
  void Stop() override;
  void Pause() override;
  void Restart() override;
  unsigned GetState() const override;
  void SetPlayLength(int64_t ms) override;
  int64_t GetFileLength() const override;
  void SetVolume(int volume) override;
  int GetVolume() const override;
  // Reads the file afresh even when it has the name of the one open, which a save may just
  // have written over.
  void SetFileName(const std::string& path) override;

 private:
  TMOPlayer& player_;
};

}  // namespace orlune
