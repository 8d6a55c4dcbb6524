// Hands each observation point to the tools that are on.
#include "observers.hpp"

#include "issue_record.hpp"
#include "profile.hpp"

namespace kmrsim {

bool observers_active = false;

void update_observers()
{
    observers_active = call_sites_enabled();
}

void observe_issue(int esize)
{
    profile_call_site(esize);
}

}  // namespace kmrsim
