/* Stands in for the agent's program in the sample packages: the packages
   register it as the "Velmora" service, and nothing ever starts it. */
int main(void)
{
    return 0;
}
