#include "Winsock.h"
