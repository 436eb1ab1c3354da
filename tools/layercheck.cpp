// Linked with the whole of one layer and only the layers below it: a call from that layer
// into one above it leaves a symbol undefined, and the build fails.
int main() {
    return 0;
}
