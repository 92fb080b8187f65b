// The program a layer's library is linked whole into: the link is the check,
// nothing runs.
int main()
{
    return 0;
}
