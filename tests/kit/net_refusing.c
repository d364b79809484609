/* Stands in for net.exe in the kit test: answers "net session" as Windows
   does for a user who is not elevated. */
#include <stdio.h>

int main(void)
{
    fputs("System error 5 has occurred.\r\n\r\nAccess is denied.\r\n", stderr);
    return 2;
}
