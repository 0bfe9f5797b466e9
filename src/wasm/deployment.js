// The static site's copy of web/deployment.js: no server answers here, and the page computes its tiles,
// reports and roots itself, in WebAssembly (muller-pool.js, beside it).
export const deployment = 'static';
