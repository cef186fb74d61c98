#include "platform/httpclientarray.h"

#include "platform/httpclient.h"

HttpClientArray::HttpClientArray(QObject* parent) : QObject(parent) { Load(0); }

HttpClientArray::~HttpClientArray() {
  // Detach the elements first so that QObject's destructor does not delete one under a waiting
  // OpenUrl(); Release() deletes each once it is idle.
  for (auto& [index, client] : m_elements) {
    disconnect(client, nullptr, this, nullptr);
    client->setParent(nullptr);
    client->Release();
  }
  m_elements.clear();
}

int HttpClientArray::Count() const { return static_cast<int>(m_elements.size()); }

HttpClient* HttpClientArray::At(int i) const {
  const auto found = m_elements.find(i);
  return found == m_elements.end() ? nullptr : found->second;
}

bool HttpClientArray::Load(int i) {
  if (i < 0 || i > MaxIndex || m_elements.count(i) != 0)
    return false;
  auto* client = new HttpClient(i, this);
  connect(client, &HttpClient::StateChanged, this, &HttpClientArray::StateChanged);
  m_elements.emplace(i, client);
  return true;
}

bool HttpClientArray::Unload(int i) {
  if (i == 0)
    return false;
  const auto found = m_elements.find(i);
  if (found == m_elements.end())
    return false;
  HttpClient* client = found->second;
  m_elements.erase(found);
  disconnect(client, nullptr, this, nullptr);
  client->setParent(nullptr);
  client->Release();
  return true;
}
