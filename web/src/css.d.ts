declare module '*.css' {
  const text: string;
  export default text;
}
