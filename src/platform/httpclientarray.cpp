#include "platform/httpclientarray.h"

#include "platform/httpclient.h"

HttpClientArray::HttpClientArray(QObject* parent) : QObject(parent) {
  Load(0);
}

HttpClientArray::~HttpClientArray() {
  // Detach the elements first so that QObject's destructor does not delete one under a waiting
  // OpenUrl(); Release() deletes each once it is idle.
  for (auto& [index, client] : elements) {
    disconnect(client, nullptr, this, nullptr);
    client->setParent(nullptr);
    client->Release();
  }
  elements.clear();
}

int HttpClientArray::Count() const {
  return static_cast<int>(elements.size());
}

HttpClient* HttpClientArray::At(int i) const {
  const auto found = elements.find(i);
  return found == elements.end() ? nullptr : found->second;
}

bool HttpClientArray::Load(int i) {
  if (i < 0 || i > MaxIndex || elements.count(i) != 0)
    return false;
  auto* client = new HttpClient(i, this);
  connect(client, &HttpClient::StateChanged, this, &HttpClientArray::StateChanged);
  elements.emplace(i, client);
  return true;
}

bool HttpClientArray::Unload(int i) {
  if (i == 0)
    return false;
  const auto found = elements.find(i);
  if (found == elements.end())
    return false;
  HttpClient* client = found->second;
  elements.erase(found);
  disconnect(client, nullptr, this, nullptr);
  client->setParent(nullptr);
  client->Release();
  return true;
}
