// The console commands that register and start the service, or stop and delete it.
#pragma once

void InstallService();
void RemoveService();
