#include <coatedmie/engine.h>
