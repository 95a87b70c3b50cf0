#include "registrations.h"

#include <algorithm>

#include "connection.h"

namespace rfclib {

bool Registrations::add(const std::u16string& program_id, std::shared_ptr<Connection> connection,
                        const std::function<bool()>& welcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!welcome()) return false;
  idle_[program_id].push_back(std::move(connection));
  return true;
}

void Registrations::drop_dead(std::deque<std::shared_ptr<Connection>>& idle) {
  idle.erase(std::remove_if(idle.begin(), idle.end(),
                            [](const std::shared_ptr<Connection>& c) { return !c->idle_alive(); }),
             idle.end());
}

std::shared_ptr<Connection> Registrations::take(const std::u16string& program_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = idle_.find(program_id);
  if (it == idle_.end()) return nullptr;
  drop_dead(it->second);
  if (it->second.empty()) return nullptr;
  std::shared_ptr<Connection> c = std::move(it->second.front());
  it->second.pop_front();
  ++busy_[program_id];
  std::weak_ptr<Registrations> self = weak_from_this();
  c->set_on_release([self, program_id] {
    if (auto r = self.lock()) {
      std::lock_guard<std::mutex> guard(r->mutex_);
      --r->busy_[program_id];
    }
  });
  return c;
}

void Registrations::count(const std::u16string& program_id, int& ready, int& busy) {
  std::lock_guard<std::mutex> lock(mutex_);
  ready = 0;
  busy = 0;
  auto it = idle_.find(program_id);
  if (it != idle_.end()) {
    drop_dead(it->second);
    ready = static_cast<int>(it->second.size());
  }
  auto b = busy_.find(program_id);
  if (b != busy_.end()) busy = b->second;
}

std::vector<std::shared_ptr<Connection>> Registrations::take_all() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<Connection>> all;
  for (auto& [id, idle] : idle_) {
    for (auto& c : idle) all.push_back(std::move(c));
  }
  idle_.clear();
  return all;
}

}  // namespace rfclib
