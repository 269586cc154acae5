#include "discovery/ServiceBrowser.h"

ServiceBrowser::~ServiceBrowser() = default;
