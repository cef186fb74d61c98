#pragma once

#include <QObject>

#include <map>

class HttpClient;

// The array of sampler clients: elements addressed by a 16-bit index, element 0 always present.
//
// Load() and Unload() are idempotent: loading an element that exists, or unloading one that does
// not, is skipped (they return false then). Unloading element 0 is ignored.
//
// Unloading an element that is waiting in OpenUrl() cancels its request: the waiting call returns
// "Cancelled". The element is gone from the array at once (At() answers nullptr, Count() shrinks,
// its StateChanged is no longer forwarded, a new element may be loaded at the same index), but the
// object itself is deleted only after its OpenUrl() has returned. Destroying the array treats every
// element that way.
//
// Elements are deleted through deleteLater(): never keep an element's pointer across a point where
// events run (a fetch, a yield); ask At() again, or hold a QPointer.
class HttpClientArray : public QObject {
  Q_OBJECT
public:
  static constexpr int MaxIndex = 32767;

  explicit HttpClientArray(QObject* parent = nullptr);
  ~HttpClientArray() override;

  int Count() const;
  // The element at index i, or nullptr when there is none.
  HttpClient* At(int i) const;
  // Creates element i (0 <= i <= MaxIndex) when it does not exist yet; true when one was created.
  bool Load(int i);
  // Removes element i (i >= 1) when it exists; true when one was removed.
  bool Unload(int i);

signals:
  // An element's StateChanged, forwarded.
  void StateChanged(int index, int state);

private:
  std::map<int, HttpClient*> elements;
};
