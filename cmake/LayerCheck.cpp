// Linked with every object of one library and nothing but the libraries it declares:
// a call from that library into a layer above it is an undefined reference here.
int main()
{
    return 0;
}
