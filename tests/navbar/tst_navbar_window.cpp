#include "testenvironment.h"
int main(){}
