// How the page is deployed, which decides where its tiles, reports and roots come from: 'server' as
// muller-explorer serves this folder, whose endpoints answer them. The static site has its own copy of
// this file (src/wasm/deployment.js), which says 'static': the page then computes them itself. A file
// and not a request: a request that one of the two answers with 404 puts an error in the console.
export const deployment = 'server';
